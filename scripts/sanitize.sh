#!/bin/sh
# Builds everything with sanitizers into its own folder and runs every test:
#   scripts/sanitize.sh address,undefined     (build-asan/)
#   scripts/sanitize.sh thread                (build-tsan/)
# Extra arguments go to ctest (e.g. -R ConnectionFlood). The options below
# reach the tests and the servers they start; the suppressions in
# tests/sanitizers/ hold only reports from inside DCMTK and Qt.
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
sanitizers="${1:?usage: $0 address,undefined|thread [ctest arguments]}"
shift
case "$sanitizers" in
  thread) build="$root/build-tsan" ;;
  *) build="$root/build-asan" ;;
esac
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMWL_SANITIZE="$sanitizers" >/dev/null
cmake --build "$build" --parallel
supp="$root/tests/sanitizers"
export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:suppressions=$supp/ubsan.supp"
# The end-to-end tests start findscu from several threads at once: the
# child of such a fork only runs exec. Qt's own threads (its painting pool)
# synchronise through locks of Qt's the detector cannot see: accesses made
# inside the libraries built without it are not checked, ours all are.
export TSAN_OPTIONS="suppressions=$supp/tsan.supp:print_suppressions=0:second_deadlock_stack=1:die_after_fork=0:ignore_noninstrumented_modules=1"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 "$@"
