#!/usr/bin/env bash
# korinfo's report of a sequence against cat reading the same files, in one
# hyperfine run: 100 frames of 128^3 (the example plume, six grid channels
# and a particle group each), listed without --stats, so that nothing is
# decoded.
#
#   bench/korinfo_sequence.sh [BUILD_DIR] [FRAMES] [SIZE]
#
# BUILD_DIR defaults to build; it needs bin/korinfo and bin/make_example_frame.
set -euo pipefail

build="$(cd "${1:-build}" && pwd)"
frames="${2:-100}"
size="${3:-128}"
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 1; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
for ((f = 1; f <= frames; ++f)); do
    "$build/bin/make_example_frame" "$(printf '%s/smoke_%04d.kor' "$dir" "$f")" "$size" "$size" "$size" "$f"
done
echo "$frames frames of ${size}^3, $(du -sh "$dir" | cut -f1) in all"
hyperfine --warmup 3 --min-runs 15 -N --export-json "$dir/times.json" \
    --command-name "cat" "cat $(printf '%s ' "$dir"/smoke_*.kor)" \
    --command-name "korinfo" "$build/bin/korinfo --quiet $dir/smoke_####.kor"
python3 - "$dir/times.json" <<'PY' || true
import json, sys
runs = {r["command"]: r["median"] for r in json.load(open(sys.argv[1]))["results"]}
print("medians: cat %.1f ms, korinfo %.1f ms, ratio %.2f" % (runs["cat"] * 1e3, runs["korinfo"] * 1e3, runs["korinfo"] / runs["cat"]))
PY
