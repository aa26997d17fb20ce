#!/usr/bin/env bash
# Cross-build scanoutsnap for 64-bit ARM Linux (arm64) into build-arm64/.
#
# Installs Debian's aarch64 cross compiler and the arm64 libraries through
# dpkg multiarch, configures with cmake/toolchains/aarch64-linux-gnu.cmake and
# builds. Extra arguments go to the cmake configure step.
#
#   scripts/cross-build-arm64.sh [-DCMAKE_BUILD_TYPE=Release ...]
#
# Environment: BUILD_DIR (default build-arm64), SKIP_APT=1 to skip the
# package installation (when it is known to be done already).
set -euo pipefail

cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-arm64}

# shellcheck source=scripts/lib/install-missing.sh
source scripts/lib/install-missing.sh

# amd64 and arm64 -dev packages are installed in one call (when any is
# missing), so that apt resolves both to the same version (Multi-Arch: same packages must match
# exactly). qemu-user-static: the test discovery and ctest run arm64 test
# programs through it. libstdc++6:arm64 and libgcc-s1:arm64 are what the C++
# program links at run time and what dpkg-shlibdeps resolves for the .deb.
packages=(
  cmake make pkg-config file
  g++ g++-aarch64-linux-gnu
  qemu-user-static
  libdrm-dev libdrm-dev:arm64
  libpng-dev libpng-dev:arm64
  libgtest-dev libgtest-dev:arm64
  libgmock-dev libgmock-dev:arm64
  libstdc++6:arm64 libgcc-s1:arm64
)

if [[ ${SKIP_APT:-0} != 1 ]]; then
  install_missing "${packages[@]}"
fi

mkdir -p "$build_dir"
log="$build_dir/cross-build.log"
cmake -S . -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/aarch64-linux-gnu.cmake" \
  "$@" 2>&1 | tee "$log"

# The project's own targets turn compiler warnings into errors; the log check
# also catches what -Werror does not cover (CMake, linker, archiver).
cmake --build "$build_dir" --parallel "$(nproc)" 2>&1 | tee -a "$log"
if grep -E 'CMake Warning|warning:' "$log" >&2; then
  echo "cross-build-arm64: the build printed warnings (see $log)" >&2
  exit 1
fi

if ! file -b "$build_dir/scanoutsnap" | grep -q 'ARM aarch64'; then
  echo "cross-build-arm64: $build_dir/scanoutsnap is not an arm64 program" >&2
  exit 1
fi
echo "cross-build-arm64: built $build_dir/scanoutsnap for arm64"
