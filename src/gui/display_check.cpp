#include "gui/display_check.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tly {
namespace {

// Whether a stream socket at the Unix path `path` accepts a connection. A
// name starting with '@' is in the abstract namespace (as X servers also
// listen).
bool UnixSocketAccepts(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  if (path[0] == '@') {
    address.sun_path[0] = '\0';
  } else {
    ++length;  // the terminating NUL of a path name
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  ::close(fd);
  return accepted;
}

bool TcpAccepts(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool accepted = false;
  for (addrinfo* a = found; a != nullptr && !accepted; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    accepted = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return accepted;
}

// DISPLAY is "[host]:number[.screen]"; no host (or "unix") means the local
// socket of that display number.
bool XServerAccepts(const std::string& display) {
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  const int number = std::atoi(display.c_str() + colon + 1);
  if (host.empty() || host == "unix") {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    return UnixSocketAccepts(socket) || UnixSocketAccepts("@" + socket);
  }
  return TcpAccepts(host, 6000 + number);
}

bool WaylandAccepts(const std::string& display) {
  if (!display.empty() && display[0] == '/') return UnixSocketAccepts(display);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && UnixSocketAccepts(std::string(runtime) + "/" + display);
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// What a platform of the toolkit needs to show a window.
enum class Needs { kNothing, kX11, kWayland, kUnknown };

// The toolkit's own platforms: those of a window system need its display;
// the others draw into memory, a VNC server or the console's devices, and
// are taken as they are. A name the toolkit does not know makes it abort.
Needs NeedsOfPlatform(std::string_view name) {
  if (name == "xcb") return Needs::kX11;
  if (name.substr(0, 7) == "wayland") return Needs::kWayland;
  for (const std::string_view other :
       {"offscreen", "minimal", "minimalegl", "vnc", "linuxfb", "eglfs", "vkkhrdisplay"}) {
    if (name == other) return Needs::kNothing;
  }
  return Needs::kUnknown;
}

// Whether one of the platforms of `list` ("name[:options]", several separated
// by ';', tried in turn by the toolkit) can show the window; `known` tells
// whether the toolkit knows one of them.
bool PlatformListUsable(std::string_view list, const std::string& wayland, const std::string& x11,
                        bool& known) {
  known = false;
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    const std::string_view entry = list.substr(start, end - start);
    const Needs needs = NeedsOfPlatform(entry.substr(0, entry.find(':')));
    known |= needs != Needs::kUnknown;
    switch (needs) {
      case Needs::kNothing:
        return true;
      case Needs::kX11:
        if (!x11.empty() && XServerAccepts(x11)) return true;
        break;
      case Needs::kWayland:
        if (!wayland.empty() && WaylandAccepts(wayland)) return true;
        break;
      case Needs::kUnknown:
        break;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

bool DisplayUsable(std::string& why_not) {
  const std::string platform = Variable("QT_QPA_PLATFORM");
  const std::string wayland = Variable("WAYLAND_DISPLAY");
  const std::string x11 = Variable("DISPLAY");
  bool known = true;
  if (platform.empty()
          ? (!wayland.empty() && WaylandAccepts(wayland)) || (!x11.empty() && XServerAccepts(x11))
          : PlatformListUsable(platform, wayland, x11, known)) {
    return true;
  }
  if (!known) {
    why_not = "QT_QPA_PLATFORM names " + platform + ", which is no platform of the toolkit";
    return false;
  }
  if (wayland.empty() && x11.empty()) {
    why_not = "no display is set (neither DISPLAY nor WAYLAND_DISPLAY)";
  } else {
    why_not = "the display " + (x11.empty() ? wayland : x11) + " does not answer";
  }
  if (!platform.empty()) why_not = "QT_QPA_PLATFORM is " + platform + ": " + why_not;
  return false;
}

}  // namespace tly
