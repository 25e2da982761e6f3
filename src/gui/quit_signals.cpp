#include "gui/quit_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace tly {
namespace {

int quit_socket[2] = {-1, -1};

void OnQuitSignal(int) {
  const char byte = 1;
  // Only async-signal-safe work here; a full socket already holds a wake-up.
  [[maybe_unused]] const ssize_t ignored = ::write(quit_socket[0], &byte, 1);
}

}  // namespace

void CloseOnQuitSignals(QWidget& window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, quit_socket) != 0) {
    return;  // the program still works; the signals keep their default effect
  }
  auto* notifier = new QSocketNotifier(quit_socket[1], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char bytes[16];
    while (::read(quit_socket[1], bytes, sizeof bytes) > 0) {
    }
    window.close();
  });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace tly
