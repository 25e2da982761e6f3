# Cross-compiles for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu and
# runs what it builds (the tests, and CTest's discovery of them) under
# qemu-user. The arm64 libraries are Debian's multiarch packages
# (tools/debian-packages-arm64.txt) in /usr/lib/aarch64-linux-gnu, with their
# loader in /lib, as on an arm64 Debian system.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The test programs stay dynamically linked like the native ones: linked
# statically, the tests that load a locale from LOCPATH and the one that tells
# loaded modules apart with dladdr fail.
# "-L /" makes qemu take the loader and libraries from the host's multiarch
# directories whatever QEMU_LD_PREFIX says.
find_program(TLY_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TLY_QEMU_AARCH64} -L /)

# Build tools come from the host. pkg-config (which FindOpenSSL asks first)
# would otherwise name the host's x86-64 libraries.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
