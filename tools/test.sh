#!/usr/bin/env bash
# Builds and runs every test: the suite plain (g++), then one clang build under AddressSanitizer and
# UndefinedBehaviorSanitizer that runs the suite again and the fuzzers for a bounded time from a
# seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
jobs="$(nproc)"
fuzz_seconds="${TAGLOOM_FUZZ_SECONDS:-60}"

echo "== plain build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest -j"$jobs" --output-on-failure | tee ctest.log)

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer (clang, with the fuzzers)"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DTAGLOOM_SANITIZE=ON \
  -DTAGLOOM_FUZZ=ON >/dev/null
cmake --build build-sanitize -j"$jobs"
# The real-file rewrites that exiftool checks run once here, with one set of flags: their time is
# exiftool's, and the plain pass took them all; every sample pair still runs here in process.
# (ctest names a parameterised case with its parameter after it: "…/uot  # GetParam() = …")
slow='RealRewrites.*/(none|u|o|t|uo|s) |CameraSamples.(withAllFormatsRestoreStripped|keepEveryOtherValue)'
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 ctest -j"$jobs" -E "$slow" --output-on-failure | tee ctest.log)

echo "== fuzzing for ${fuzz_seconds}s per target"
rm -rf build-sanitize/corpus && mkdir -p build-sanitize/corpus/load build-sanitize/corpus/pair
./build-sanitize/tests/tagloom_make_files corpus build-sanitize/corpus/load
if [ -d ../shared/samples ]; then
  ./build-sanitize/tests/tagloom_make_files pairs build-sanitize/corpus/pair ../shared/samples
  find ../shared/samples -type f ! -name '*.md' -size -200k -exec cp {} build-sanitize/corpus/load \;
else
  ./build-sanitize/tests/tagloom_make_files pairs build-sanitize/corpus/pair
fi
for target in load pair; do
  log="build-sanitize/$target.log"
  if ! (cd build-sanitize && "./fuzz/tagloom_${target}_fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 \
      -rss_limit_mb=512 -print_final_stats=1 "corpus/$target") >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzzing tagloom_${target}_fuzzer found a failure: the input is in build-sanitize/ (crash-*, leak-*, timeout-*)"
    exit 1
  fi
  echo "tagloom_${target}_fuzzer: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') inputs, no failure"
done
passed=$(cat build/ctest.log build-sanitize/ctest.log | sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' |
  awk '{ total += $1 } END { print total }')
echo "summary: $passed passed, 0 failed"
