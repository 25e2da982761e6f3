#include "app/command_line.h"
#include "studio/studio_command.h"
#include "support/process_env.h"

int main(int argc, char** argv) {
  // Before anything else, so that the toolkit and every program we start
  // already see the temporary directory chosen for the program's layout.
  tly::InitProcessEnvironment();
  return tly::RunCommandLine(argc, argv, tly::OpenStudio);
}
