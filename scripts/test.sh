#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test headless:
# the normal build (core, shape, command line, window) offscreen, the 3D view
# on a virtual X server with software OpenGL, the core and shape tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, the suites that start
# threads (label "threads": generation, saving, exports, the terrain document,
# background work, the 3D preview's worker, the window, the live 3D view) again
# under ThreadSanitizer, and a short run of each fuzz target (the BMP, PNG and
# PGM/PPM and TIFF decoders; the .suf reader with its write-read-write round
# trip), each with its seed corpus when it has one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
# Each stage says how long the run has taken so far, to keep it within its budget.
stage() { echo "== $1 == (${SECONDS} s so far)"; }
export QT_QPA_PLATFORM=offscreen

# The glTF Validator (npm) for the export tests, into the build folder.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nodejs npm
fi
for dir in build build-asan; do
  [ -d "$dir/tools/node_modules/gltf-validator" ] ||
    npm install --prefix "$dir/tools" --no-audit --no-fund gltf-validator@2.0.0-dev.3.10
done
mkdir -p build-tsan
[ -e build-tsan/tools ] || ln -s ../build/tools build-tsan/tools

stage "build and test"
# The benchmarks are not tests: -DTALORIN_BENCH=ON builds them into build/bench.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALORIN_BENCH=OFF
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs" -LE gl

stage "3D view tests (Xvfb, Mesa software OpenGL)"
# Each of these starts its own X server through xvfb-run (see tests/gl).
ctest --test-dir build --output-on-failure --no-tests=error -L gl

stage "sanitizers (AddressSanitizer, UndefinedBehaviorSanitizer)"
# At -O1: the checks are the same and the slow suites run several times faster.
# Line tables (-g1) are all that the reports' stacks need, and build faster.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" -DTALORIN_SANITIZE=ON -DTALORIN_UI=OFF -DTALORIN_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs"

stage "ThreadSanitizer (the suites that start threads)"
# Only the test targets labelled "threads", at -O1: a third of the build and
# a fast enough run. Any report ends its test at once and fails it; Qt's and
# Mesa's own internals, which are not instrumented, are in tests/tsan.supp.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" \
  -DTALORIN_TSAN=ON -DTALORIN_BENCH=OFF
tsan_targets=$(ctest --test-dir build-tsan -N -L threads | sed -n 's/^ *Test *#[0-9]*: //p')
cmake --build build-tsan -j "$jobs" --target $tsan_targets
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 exitcode=66 second_deadlock_stack=1"
# The 3D view's suite runs beside the others: its X server is its own.
ctest --test-dir build-tsan --output-on-failure --no-tests=error -j "$jobs" -L threads
unset TSAN_OPTIONS

stage "fuzz smoke run"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTALORIN_FUZZ=ON -DTALORIN_UI=OFF -DTALORIN_BENCH=OFF
fuzz_targets=$(for f in tests/fuzz/*_fuzz.cpp; do basename "$f" .cpp; done)
cmake --build build-fuzz -j "$jobs" --target $fuzz_targets
# One target a core at a time, each with its log; any finding fails the stage.
fuzz_one() {
  local f=$1 name corpus
  name=$(basename "$f")
  corpus="tests/fuzz/corpus/${name%_fuzz}"
  mkdir -p build-fuzz/corpus-$name
  "$f" -max_total_time=10 -rss_limit_mb=2048 -timeout=10 build-fuzz/corpus-$name \
    $( [ -d "$corpus" ] && echo "$corpus" ) > build-fuzz/$name.log 2>&1 ||
    { cat build-fuzz/$name.log; echo "$name found a fault" >&2; return 1; }
  tail -n 1 build-fuzz/$name.log
}
pids=()
for f in build-fuzz/tests/*_fuzz; do
  [ -x "$f" ] || continue
  if [ ${#pids[@]} -ge "$jobs" ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
  fuzz_one "$f" & pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
echo "all test stages passed in ${SECONDS} s"
