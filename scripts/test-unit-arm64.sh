#!/usr/bin/env bash
# Run the host-side unit tests of the arm64 cross build under qemu-user, so
# that the pixel conversion code is tested on the target's instruction set.
#
# Builds build-arm64/ first with scripts/cross-build-arm64.sh when it has not
# been configured yet. There is no binfmt_misc: the toolchain file sets
# qemu-aarch64-static -L / as CMAKE_CROSSCOMPILING_EMULATOR, and ctest runs
# every test program through it. Extra arguments go to ctest
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

# The whole-process tests start the scanoutsnap executable as a child. Under
# qemu-user that child is an arm64 program that the kernel cannot execute
# without binfmt_misc, so those tests only run when the harness starts the
# tool through the emulator itself (ARM64_PROCESS_TESTS=1 then runs them).
exclude=()
process_tests=$build_dir/tests/process_tests
if [[ ${ARM64_PROCESS_TESTS:-0} != 1 && -x $process_tests ]]; then
  # --gtest_list_tests prints "Suite." lines, each followed by its
  # indented case names; ctest names the cases "Suite.Case".
  names=$("$qemu" -L / "$process_tests" --gtest_list_tests |
    awk '/^[^ ].*\.$/ { suite = $1; next }
         /^  / && suite != "" { print suite $1 }' | sed 's/\./\\./g')
  if [[ -n $names ]]; then
    exclude=(-E "^($(paste -sd'|' <<<"$names"))\$")
    echo "test-unit-arm64: leaving out $(wc -l <<<"$names") whole-process tests" \
      "(they execute the arm64 tool as a child process)"
  fi
fi

echo "test-unit-arm64: running the unit tests under $qemu -L /"
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error \
  "${exclude[@]}" "$@"
