# Cross-compile for 64-bit ARM Linux with Debian's aarch64-linux-gnu
# toolchain (g++-aarch64-linux-gnu) and the arm64 -dev packages installed
# through dpkg multiarch (dpkg --add-architecture arm64), which live in
# /usr/lib/aarch64-linux-gnu and /usr/include/aarch64-linux-gnu.
#
#   cmake -S . -B build-arm64 \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
#
# scripts/cross-build-arm64.sh installs the packages and runs this.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(_triplet aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${_triplet}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${_triplet})

# Libraries and headers come from the cross toolchain's own tree and from the
# multiarch arm64 directories under /; build tools (pkg-config, qemu) are the
# host's. The amd64 libraries sit in /usr/lib/x86_64-linux-gnu, which
# CMAKE_LIBRARY_ARCHITECTURE keeps out of every search.
set(CMAKE_FIND_ROOT_PATH /usr/${_triplet} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The host's pkg-config must read only the arm64 .pc files (plus the
# architecture-independent ones), never the amd64 ones it finds by default.
set(ENV{PKG_CONFIG_LIBDIR}
    "/usr/lib/${_triplet}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# No binfmt_misc is assumed: arm64 test programs run through qemu-user,
# with -L / so that the dynamic loader and libraries come from the multiarch
# arm64 packages. ctest and gtest_discover_tests use this emulator.
find_program(_qemu_aarch64 NAMES qemu-aarch64-static qemu-aarch64)
if(_qemu_aarch64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_qemu_aarch64};-L;/")
endif()
