#!/usr/bin/env bash
# Builds and runs every test of the project on a Debian 12 or 13 machine,
# installing what each stage needs with apt-get. Runs as root (or re-runs
# itself through sudo): the tests change file owners and the emulated machines
# need it. The stages that build take turns at the build types, so that each
# is built, warning-free, tests included: Release for the unit and process
# tests, RelWithDebInfo for the sanitizers, the arm64 build and the packages,
# Debug for the coverage (and, with clang, the fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $(id -u) -ne 0 ]]; then
    exec sudo "$0" "$@"
fi

passed=0
failed=0
failed_stages=()

stage() {
    local name=$1
    shift
    echo "==> ${name}"
    local start=$SECONDS
    if "$@"; then
        passed=$((passed + 1))
        echo "==> ${name}: passed ($((SECONDS - start)) s)"
    else
        failed=$((failed + 1))
        failed_stages+=("${name}")
        echo "==> ${name}: FAILED ($((SECONDS - start)) s)"
    fi
}

build_and_test() {
    local dir=$1
    shift
    cmake -S . -B "${dir}" "$@" >/dev/null &&
        cmake --build "${dir}" -j"$(nproc)" &&
        ctest --test-dir "${dir}" -j"$(nproc)" --output-on-failure
}

sanitized_tests() {
    ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        build_and_test build-sanitize -DSCANOUTSNAP_SANITIZE=ON
}

stage "install build dependencies" scripts/install-build-deps.sh
stage "unit and process tests (Release)" build_and_test build -DCMAKE_BUILD_TYPE=Release
stage "tests under AddressSanitizer and UndefinedBehaviorSanitizer" sanitized_tests
stage "end-to-end on real x86_64 kernel drivers under QEMU" \
    bash tests/e2e/run.sh --arch x86_64 --build-dir build
stage "arm64 cross build" scripts/cross-build-arm64.sh
stage "arm64 tests under qemu-user" scripts/test-unit-arm64.sh
stage "end-to-end on an emulated arm64 machine" \
    bash tests/e2e/run.sh --arch aarch64 --build-dir build-arm64
stage "arm64 row converters and row filter chooser use vector loads" bash bench/check-aarch64-vectors.sh
stage "Debian packages for amd64 and arm64" packaging/build-debs.sh
stage "the packages rebuilt elsewhere, later, without tests are byte-identical" \
    packaging/check-reproducible.sh
stage "Weston, Xorg, labwc and cage under QEMU on x86_64 and arm64, tool from the packages" \
    bash tests/e2e/stacks/run.sh --arch x86_64,aarch64
stage "benchmark smoke run (tiny frames, no peers)" bash bench/run.sh --smoke
stage "fuzzing the kernel's answers (60 s, libFuzzer with ASan and UBSan)" \
    bash tests/fuzz/run.sh 60
stage "line coverage of src/ (gcov, gcovr)" bash tests/coverage/run.sh

if ((failed > 0)); then
    printf 'failed stage: %s\n' "${failed_stages[@]}"
fi
echo "stages: ${passed} passed, ${failed} failed"
((failed == 0))
