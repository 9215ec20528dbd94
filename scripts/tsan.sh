#!/usr/bin/env bash
# The batch runner under ThreadSanitizer: the worker pool's unit tests, the
# extraction that decodes ahead on a worker, and the batch scenarios (the
# same output and files for any -j, Ctrl+C in the middle) run against a
# ThreadSanitizer build. Any report fails the run.
#   scripts/tsan.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$here/build-tsan}"
gen=()
if command -v ninja >/dev/null 2>&1; then gen=(-G Ninja); fi
cmake -S "$here" -B "$dir" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARCELIX_TSAN=ON -DPARCELIX_GUI=OFF >/dev/null
cmake --build "$dir" --parallel "$(nproc)" --target parcelix parcelix_crypto parcelix_engine_tests
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1"
"$dir/tests/parcelix_engine_tests" --gtest_brief=1 --gtest_filter='*OrderedRun*:*ObjectPool*:*DecodingAhead*'
for script in midlet_batch_jobs.py midlet_interrupt.py; do
  echo "-- $script"
  PARCELIX="$dir/parcelix" python3 "$here/tests/scripts/$script"
done
