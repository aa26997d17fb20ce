#!/usr/bin/env bash
# Run the host-side tests of the arm64 cross build under qemu-user, so
# that the pixel conversion code is tested on the target's instruction set.
#
# Builds build-arm64/ first with scripts/cross-build-arm64.sh when it has not
# been configured yet. There is no binfmt_misc: the toolchain file sets
# qemu-aarch64-static -L / as CMAKE_CROSSCOMPILING_EMULATOR, and ctest runs
# every test program through it, and the whole-process tests start the tool
# through it too. Extra arguments go to ctest
# (for example -R Rgb565).
#
# Environment: BUILD_DIR (default build-arm64).
set -euo pipefail

cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-arm64}

if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  BUILD_DIR=$build_dir scripts/cross-build-arm64.sh
fi

qemu=$(command -v qemu-aarch64-static || true)
if [[ -z $qemu ]]; then
  echo "test-unit-arm64: qemu-aarch64-static is missing" \
    "(apt-get install qemu-user-static, or run scripts/cross-build-arm64.sh)" >&2
  exit 1
fi

# The emulator is found when the build is configured; a build configured
# before qemu-user-static was installed would try to execute arm64 programs
# directly, so configure again in that case.
if ! grep -q "^_qemu_aarch64:FILEPATH=/" "$build_dir/CMakeCache.txt"; then
  cmake "$build_dir" >/dev/null
fi
cmake --build "$build_dir" --parallel "$(nproc)"

echo "test-unit-arm64: running the unit and whole-process tests under $qemu -L /"
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error \
  "$@"
