#ifndef TLY_GUI_STUDIO_COMMAND_H_
#define TLY_GUI_STUDIO_COMMAND_H_

#include <string>

namespace tly {

// `tly-generator studio [SCENARIO]`: opens the studio window, on the scenario
// file `scenario` when one is given, and returns the exit code once it is
// closed (2 without a display).
int OpenStudio(int argc, char** argv, const std::string& scenario);

}  // namespace tly

#endif  // TLY_GUI_STUDIO_COMMAND_H_
