#!/usr/bin/env bash
# Installs what is missing, builds and runs every test:
#   1. the Release build with g++ and all tests (unit, end-to-end, plug-in
#      modules, tools, the Python module);
#   2. that build installed and packaged as a user would, and a host and the
#      Python tests run against the result (scripts/package-tests.sh);
#   3. the Release build with clang and its tests;
#   4. the library and tests under AddressSanitizer + UndefinedBehaviorSanitizer;
#   5. the concurrency tests under ThreadSanitizer;
#   6. the fuzz targets (clang, ASan+UBSan): every kept regression input and
#      seed replayed, then about a minute of fuzzing in all.
# Warnings are errors in every build here (KOR_WERROR).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS="$(nproc)"
say() { printf '== [%4d s] %s\n' "$SECONDS" "$*"; }

say "Release build (g++) and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOR_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build -j"$JOBS"
ctest --test-dir build --output-on-failure -j"$JOBS"

say "install, find_package, pkg-config and Debian packages"
bash scripts/package-tests.sh build

say "Release build (clang) and tests"
cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOR_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-clang -j"$JOBS"
ctest --test-dir build-clang --output-on-failure -j"$JOBS"

say "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKOR_SANITIZE=address,undefined -DKOR_WERROR=ON \
  -DKOR_BUILD_TOOLS=OFF -DKOR_BUILD_PLUGINS=OFF
cmake --build build-asan -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$JOBS"

say "ThreadSanitizer (concurrency tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOR_SANITIZE=thread -DKOR_WERROR=ON \
  -DKOR_BUILD_TOOLS=OFF -DKOR_BUILD_PLUGINS=OFF -DKOR_BUILD_PYTHON=OFF
cmake --build build-tsan -j"$JOBS"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j"$JOBS" -R Concurrent

say "fuzz targets: regression corpus and a short run of each"
KOR_FUZZ_BUILD="$PWD/build-fuzz" KOR_FUZZ_JOBS="$JOBS" bash fuzz/run.sh --ci

say "all test stages passed"
