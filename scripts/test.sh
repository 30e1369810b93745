#!/usr/bin/env bash
# Sets up the machine, builds the test build (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test through CTest. Then builds the tests of the parts that run on several
# threads with ThreadSanitizer and runs them; a single race or lock-order report fails the
# command.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset test
cmake --build --preset test
ctest --preset test

# Test executables of the threaded parts, as paths under the build folder.
TSAN_TESTS=(
  tests/base/thread/thread_tests            # threads, action loop, blocking record queue
  tests/network/session/session_tests       # select dispatcher
  tests/network/playback/playback_tests     # playback client and media dispatcher
  tests/storage/pager/storage_pager_tests   # page cache
  tests/app/archiving/archiving_tests       # event manager, profiler
  tests/app/archiving/archiving_client_tests  # archiving client on three threads
  tests/app/archiving/archiving_schedule_tests  # schedules and the scheduler on four
  tests/app/archiving/archiving_crash_tests   # the archiving process killed and restarted
  tests/app/ui/ui_tests                       # the document, its timers and the web API
)
targets=()
for test in "${TSAN_TESTS[@]}"; do
  targets+=("$(basename "$test")")
done
cmake --preset tsan
cmake --build --preset tsan --target "${targets[@]}"
# Stop at the first report and fail with its own exit code.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1"
for test in "${TSAN_TESTS[@]}"; do
  echo "ThreadSanitizer: $test"
  # Run where CTest runs it; a hang fails after 20 minutes instead of blocking CI.
  (cd "build/tsan/$(dirname "$test")" && timeout -k 10 1200 "./$(basename "$test")" --gtest_brief=1)
done
echo "ThreadSanitizer: no reports"

# Each fuzz target briefly, so that a crash fails the run (bash scripts/fuzz.sh 600 for longer).
bash scripts/fuzz.sh 20
