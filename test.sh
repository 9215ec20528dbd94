#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal
# build and one under AddressSanitizer and UndefinedBehaviorSanitizer; then
# the batch runner's tests under ThreadSanitizer.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs="$(nproc)"

echo "== normal build"
"$here/scripts/build.sh" "$here/build"
(cd "$here/build" && ctest --output-on-failure --parallel "$jobs")

echo "== sanitizer build (address, undefined)"
"$here/scripts/build.sh" "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DPARCELIX_SANITIZE=ON
(cd "$here/build-asan" && ctest --output-on-failure --parallel "$jobs")

echo "== thread sanitizer (the batch runner)"
"$here/scripts/tsan.sh" "$here/build-tsan"
