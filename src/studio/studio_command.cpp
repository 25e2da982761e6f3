#include "studio/studio_command.h"

#include <QApplication>
#include <cstdio>

#include "cli/exit_codes.h"
#include "gui/display_check.h"
#include "gui/quit_signals.h"
#include "studio/studio_window.h"

namespace tly {

int OpenStudio(int argc, char** argv, const std::string& scenario) {
  std::string why_not;
  if (!DisplayUsable(why_not)) {
    std::fprintf(stderr, "tly-generator studio: the studio needs a display, and %s.\n",
                 why_not.c_str());
    return kExitUsage;
  }
  QApplication application(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("tly-generator"));
  QApplication::setApplicationName(QStringLiteral("studio"));
  StudioWindow window;
  CloseOnQuitSignals(window);
  if (!scenario.empty()) window.OpenScenarioFile(QString::fromStdString(scenario));
  window.show();
  return application.exec();
}

}  // namespace tly
