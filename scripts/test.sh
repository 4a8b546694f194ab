#!/usr/bin/env bash
# Installs what is missing, builds and runs every test:
#   1. the release build with all tests (unit, end-to-end, plug-in modules);
#   2. the library and tests under AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. the concurrency tests under ThreadSanitizer;
#   4. the fuzz targets (clang, ASan+UBSan): every kept regression input and
#      seed replayed, then about a minute of fuzzing in all.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS="$(nproc)"

echo "== release build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOR_WERROR=ON
cmake --build build -j"$JOBS"
ctest --test-dir build --output-on-failure -j"$JOBS"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKOR_SANITIZE=address,undefined -DKOR_WERROR=ON \
  -DKOR_BUILD_TOOLS=OFF -DKOR_BUILD_PLUGINS=OFF
cmake --build build-asan -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$JOBS"

echo "== ThreadSanitizer (concurrency tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOR_SANITIZE=thread -DKOR_WERROR=ON \
  -DKOR_BUILD_TOOLS=OFF -DKOR_BUILD_PLUGINS=OFF
cmake --build build-tsan -j"$JOBS"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j"$JOBS" -R Concurrent

echo "== fuzz targets: regression corpus and a short run of each"
KOR_FUZZ_BUILD="$PWD/build-fuzz" KOR_FUZZ_JOBS="$JOBS" bash fuzz/run.sh --ci

echo "== all test stages passed"
