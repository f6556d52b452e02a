#!/bin/sh
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# a bounded time (60 s unless FUZZ_SECONDS says otherwise). The corpus grows
# in build-fuzz/corpus/<target>/; a crash is written to
# build-fuzz/crashes/<target>-crash-<hash>, to be replayed with
# build-fuzz/tests/fuzz/<target> <file>.
#   scripts/fuzz.sh [TARGET...]
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-60}"
targets="${*:-RequestStatementFuzz OrderLineFuzz}"
"$root/scripts/setup.sh" clang-14 libclang-rt-14-dev
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMWL_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" --parallel --target $targets
# Seeds: the demo order files, and worklist queries written as toolkit dumps
# in both little-endian transfer syntaxes.
mkdir -p "$build/corpus/OrderLineFuzz" "$build/corpus/RequestStatementFuzz"
cp "$root"/examples/orders/*.HL7 "$build/corpus/OrderLineFuzz/"
for dump in "$root"/tests/fuzz/seeds/*.dump; do
  name="$(basename "$dump" .dump)"
  dump2dcm -q -F +ti "$dump" "$build/corpus/RequestStatementFuzz/$name-implicit"
  dump2dcm -q -F +te "$dump" "$build/corpus/RequestStatementFuzz/$name-explicit"
done
# A peer may announce an element of gigabytes; the toolkit then asks for that
# much memory, which the kernel refuses or maps without using it. Under the
# sanitizer such a request would cost its shadow memory and be reported as
# running out of memory, so it is refused as the kernel would (an identifier
# is at most 1 MiB, nothing needs more than 64 MB at once).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}max_allocation_size_mb=64:allocator_may_return_null=1"
status=0
for target in $targets; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus" "$build/crashes"
  echo "== $target: $seconds s"
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -malloc_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/crashes/$target-" \
    "$corpus" || status=1
done
exit $status
