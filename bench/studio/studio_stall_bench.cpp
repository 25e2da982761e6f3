// Runs a backfill of a hundred sites over a quarter year through the studio's
// history dialog and measures the longest gap between the ticks of a 10 ms
// timer on the window's thread: the longest the event loop stalls. Prints it
// and fails (exit code 1) when it is over 100 ms.
//   studio_stall_bench [DAYS]   (default 90; TMPDIR chooses the file system)
#include <stdlib.h>

#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "bench_temp_dir.h"
#include "scenario/scenario_file.h"
#include "studio/history_dialog.h"

namespace {

constexpr qint64 kStallLimitMs = 100;

std::string HundredSites() {
  std::string text =
      "seed = 1\n[defaults]\nprofile = \"retail\"\nvisitors = 2400\n"
      "time_zone = \"Europe/Paris\"\n";
  for (int i = 0; i < 100; ++i) {
    text += "[[site]]\nname = \"s" + std::to_string(i) + "\"\nshop_code = \"" + std::to_string(i) +
            "\"\n";
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 90;
  QApplication application(argc, argv);
  const tly::bench::BenchTempDir out;
  auto scenario =
      std::make_shared<const tly::Scenario>(tly::ParseScenario(HundredSites(), "bench.toml"));
  tly::HistoryDialog history(scenario, QString::fromStdString(out.path()));
  history.From()->setDate(QDate(2027, 1, 1));
  history.To()->setDate(QDate(2027, 1, 1).addDays(days - 1));
  history.Jobs()->setValue(std::max(1, QThread::idealThreadCount()));
  history.show();

  QElapsedTimer since_tick;
  QElapsedTimer run;
  qint64 longest = 0;
  qint64 longest_at = 0;  // ms into the run
  QTimer ticks;
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    const qint64 gap = since_tick.restart();
    if (gap > longest) {
      longest = gap;
      longest_at = run.elapsed();
    }
  });
  // The dialog's first paint (fonts loaded and all) is no part of the run.
  QApplication::processEvents();
  QEventLoop loop;
  QObject::connect(&history, &tly::HistoryDialog::Finished, &loop, &QEventLoop::quit);
  run.start();
  since_tick.start();
  ticks.start(10);
  history.StartButton()->click();
  loop.exec();
  const double seconds = static_cast<double>(run.elapsed()) / 1000;
  std::printf(
      "studio_stall_bench: %d site-days in %.1f s (%s); longest event loop stall %lld ms, "
      "%.1f s into the run (limit %lld ms)\n",
      100 * days, seconds, history.Outcome().toUtf8().constData(), static_cast<long long>(longest),
      static_cast<double>(longest_at) / 1000, static_cast<long long>(kStallLimitMs));
  return longest <= kStallLimitMs ? 0 : 1;
}
