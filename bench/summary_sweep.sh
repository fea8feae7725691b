#!/usr/bin/env bash
# Time and peak memory of pathwick_run --summarize on a synthetic sweep of N
# run folders: one real run of 40000 steps (400 samples), its series.csv
# hard-linked into every folder, and its run.json rewritten with the point and
# seed of a 2^6 factorial (64 cells, seeds 1, 2, ...), so that N folders cost
# little time and disk.
#
#   bench/summary_sweep.sh PATHWICK_RUN N [WORKDIR] [-- SUMMARIZE_OPTIONS...]
#
# Prints the summary's wall and CPU time and peak resident memory (GNU time
# -v). Run it under `ulimit -v KB` to keep an old summary from taking the
# machine's memory: it then reports the failure.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 PATHWICK_RUN N [WORKDIR] [-- OPTIONS...]" >&2; exit 2; }
runner=$1
n=$2
work=${3:-$(mktemp -d)}
shift 2
[ $# -gt 0 ] && [ "$1" != "--" ] && shift
[ $# -gt 0 ] && [ "$1" = "--" ] && shift
base="$work/base"
sweep="$work/sweep-$n"
if [ ! -f "$base/series.csv" ]; then
  "$runner" --steps 40000 --seed 7 --out "$base" --quiet
fi
if [ ! -d "$sweep" ]; then
  mkdir -p "$sweep"
  python3 - "$base/run.json" "$sweep" "$n" <<'PY'
import json, os, sys
record_path, sweep, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
record = json.load(open(record_path))
series = os.path.join(os.path.dirname(record_path), "series.csv")
# The factors: option name, run.json key, the two levels as run.json holds them.
factors = [("mark-strength", "mark_strength", 10, 50), ("evaporation-rate", "evaporation_rate", 0.2, 0.8),
           ("sniff", "sniff", "hill", "roulette"), ("knows-center", "knows_center", False, True),
           ("mutation-rate", "mutation_rate", 0.01, 0.05), ("sniff-threshold", "sniff_threshold", 5, 15)]
for i in range(n):
    point, seed = i % 64, i // 64 + 1
    for f, (_, key, low, high) in enumerate(factors):
        record["settings"][key] = high if point >> f & 1 else low
    record["seed"] = seed
    record["design"] = {"kind": "factorial", "factors": [f[0] for f in factors], "point": point, "role": "cell",
                        "command": "--vary " + " --vary ".join(f"{f[0]}={f[2]},{f[3]}" for f in factors)}
    folder = os.path.join(sweep, f"run-{i:05d}-seed-{seed}")
    os.mkdir(folder)
    with open(os.path.join(folder, "run.json"), "w") as out:
        json.dump(record, out, indent=2, sort_keys=True)
    os.link(series, os.path.join(folder, "series.csv"))
PY
fi
report="$work/time-$n.txt"
status=0
/usr/bin/time -v "$runner" --summarize "$sweep" "$@" >/dev/null 2>"$report" || status=$?
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$report")
cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.1f", s }' "$report")
peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$report")
outcome=$([ "$status" -eq 0 ] && echo "completed" || echo "FAILED, exit $status: $(grep -m1 'terminated\|pathwick_run:' "$report")")
echo "N=$n runs, 400 samples each: wall $wall, cpu ${cpu} s, peak $((peak / 1024)) MB; $outcome"
