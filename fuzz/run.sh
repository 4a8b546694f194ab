#!/usr/bin/env bash
# Builds and runs the libFuzzer targets.
#
#   fuzz/run.sh SECONDS [TARGET...]    fuzz each target SECONDS of wall time, one after another
#   fuzz/run.sh --cpu SECONDS [TARGET...]
#                                      fuzz each target until it used SECONDS of CPU time
#   fuzz/run.sh --replay [TARGET...]   run every seed and every kept regression input once
#   fuzz/run.sh --ci                   --replay, then a fixed, seeded run of each target (about a minute)
#
# Targets default to every fuzz_* program. The build lives in build-fuzz (or
# $KOR_FUZZ_BUILD); KOR_FUZZ_NO_BUILD=1 uses the programs already there.
# KOR_FUZZ_FLAGS adds libFuzzer flags to the fuzzing runs, e.g.
# "-detect_leaks=0 -malloc_limit_mb=2048 -rss_limit_mb=8192" for long runs of
# fuzz_vdb_read: OpenVDB leaks on its error paths, and each leak check then
# stops the target for a heap scan that costs more than the input; without
# the checks those leaks pile up (about 2 GB in 150,000 inputs), so the RSS
# limit goes up while single allocations stay limited. --replay and --ci
# always check for leaks.
# Working corpora grow in <build>/corpus/<target>; a crash is written to
# <build>/artifacts/<target>/ and ends the run with status 1.
# Every input that ever failed is minimised and kept in
# fuzz/regressions/<target>/, which --replay and --ci run again.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
BUILD="${KOR_FUZZ_BUILD:-$ROOT/build-fuzz}"
JOBS="${KOR_FUZZ_JOBS:-2}"

mode=wall
seconds=0
case "${1:-}" in
  --cpu) mode=cpu; seconds="${2:?--cpu needs SECONDS}"; shift 2 ;;
  --replay) mode=replay; shift ;;
  --ci) mode=ci; shift ;;
  ''|-h|--help) sed -n '2,22p' "$0"; exit 2 ;;
  *) seconds="$1"; shift ;;
esac

if [ "${KOR_FUZZ_NO_BUILD:-0}" != 1 ]; then
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKOR_BUILD_FUZZ=ON -DKOR_SANITIZE=address,undefined -DKOR_WERROR=ON \
  -DKOR_BUILD_TESTS=OFF -DKOR_BUILD_TOOLS=OFF -DKOR_BUILD_PLUGINS=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target kor_fuzz >/dev/null
fi

rm -rf "$BUILD/seeds"
"$BUILD/bin/kor_fuzz_seeds" "$BUILD/seeds"
# The plug-in targets: .vdb files written by OpenVDB, and the Field3D sample
# files of both encodings.
if [ -x "$BUILD/bin/kor_fuzz_plugin_seeds" ]; then "$BUILD/bin/kor_fuzz_plugin_seeds" "$BUILD/seeds"; fi
mkdir -p "$BUILD/seeds/fuzz_ogawa" "$BUILD/seeds/fuzz_f3d_import"
cp "$ROOT"/tests/data/f3d/*.f3d "$BUILD/seeds/fuzz_ogawa/"
cp "$ROOT"/tests/data/f3d/*.f3d "$BUILD/seeds/fuzz_f3d_import/"
for f in "$ROOT"/tests/data/f3d/hdf5/*.f3d; do cp "$f" "$BUILD/seeds/fuzz_f3d_import/hdf5_$(basename "$f")"; done

if [ "$#" -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for t in "$BUILD"/bin/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi

# Every input runs in well under a second; anything slower is a finding.
COMMON=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
read -r -a EXTRA <<<"${KOR_FUZZ_FLAGS:-}"

replay() {
  local t="$1" files=()
  for dir in "$BUILD/seeds/$t" "$ROOT/fuzz/regressions/$t"; do
    [ -d "$dir" ] || continue
    while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$dir" -type f -print0 | sort -z)
  done
  if [ "${#files[@]}" -eq 0 ]; then echo "$t: nothing to replay"; return 0; fi
  echo "== $t: replaying ${#files[@]} inputs"
  "$BUILD/bin/$t" "${COMMON[@]}" "${files[@]}" >"$BUILD/replay-$t.log" 2>&1 ||
    { tail -n 40 "$BUILD/replay-$t.log"; echo "$t: replay FAILED"; return 1; }
}

fuzz() {
  local t="$1" limit="$2" corpus="$BUILD/corpus/$t" artifacts="$BUILD/artifacts/$t/"
  mkdir -p "$corpus" "$artifacts"
  local dirs=("$corpus")
  for dir in "$BUILD/seeds/$t" "$ROOT/fuzz/regressions/$t"; do [ -d "$dir" ] && dirs+=("$dir"); done
  local log="$BUILD/fuzz-$t.log"
  if [ "$mode" = cpu ]; then
    # libFuzzer's own limit is wall time; on a shared machine CPU time is
    # what says how much was fuzzed.
    nice -n 10 "$BUILD/bin/$t" "${COMMON[@]}" "${EXTRA[@]}" -artifact_prefix="$artifacts" "${dirs[@]}" >"$log" 2>&1 &
    local pid=$! used=0
    while kill -0 "$pid" 2>/dev/null; do
      sleep 5
      used=$(ps -o times= -p "$pid" 2>/dev/null | tr -d ' ' || echo "$used")
      used=${used:-0}
      if [ "$used" -ge "$limit" ]; then kill -INT "$pid"; break; fi
    done
    local status=0
    wait "$pid" || status=$?
    echo "$t: ${used}s CPU" | tee -a "$BUILD/cpu-seconds.txt"
    # SIGINT after the limit is a normal end (libFuzzer exits 0 or 130 then).
    if [ "$status" -ne 0 ] && [ "$status" -ne 130 ] && [ "$status" -ne 72 ]; then
      tail -n 60 "$log"; echo "$t: FAILED (see $log and $artifacts)"; return 1
    fi
  elif [ "$mode" = ci ]; then
    # CI fuzzes a fixed number of inputs from a fixed seed, so that a run is
    # the same on every machine and a landing never depends on luck; the
    # open-ended search happens with the timed modes.
    "$BUILD/bin/$t" "${COMMON[@]}" -seed=1 -runs="$limit" -artifact_prefix="$artifacts" "${dirs[@]}" >"$log" 2>&1 ||
      { tail -n 60 "$log"; echo "$t: FAILED (see $log and $artifacts)"; return 1; }
  else
    "$BUILD/bin/$t" "${COMMON[@]}" "${EXTRA[@]}" -max_total_time="$limit" -artifact_prefix="$artifacts" "${dirs[@]}" >"$log" 2>&1 ||
      { tail -n 60 "$log"; echo "$t: FAILED (see $log and $artifacts)"; return 1; }
  fi
  grep -E '^(stat::number_of_executed_units|Done)' "$log" | sed "s/^/$t: /" || true
}

failed=0
case "$mode" in
  replay) for t in "${targets[@]}"; do replay "$t" || failed=1; done ;;
  ci)
    for t in "${targets[@]}"; do replay "$t" || failed=1; done
    # About a minute of fuzzing in all: a fixed number of inputs per target.
    for t in "${targets[@]}"; do fuzz "$t" "${KOR_FUZZ_CI_RUNS:-4000}" || failed=1; done ;;
  *) for t in "${targets[@]}"; do fuzz "$t" "$seconds" || failed=1; done ;;
esac
exit "$failed"
