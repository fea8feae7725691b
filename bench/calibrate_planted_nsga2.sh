#!/usr/bin/env bash
# Planted parameters on the model, calibrated by NSGA-II: reference runs at a
# known point of two factors (sniff threshold and evaporation rate), then
# pathwick_run --calibrate --method nsga2 --target-runs, and whether the
# truth lies near the Pareto front: the front's span of each factor, whether
# the truth lies within it, and the distance from the truth to the nearest
# member of the front as a share of each prior's range (in log terms for the
# evaporation rate), with the runs and wall time.
#   bench/calibrate_planted_nsga2.sh PATHWICK_RUN WORKDIR [STEPS] [POPULATION] [GENERATIONS]
# WORKDIR is made and kept. STEPS defaults to 2000, POPULATION to 16,
# GENERATIONS to 4. Not run by the tests: it takes minutes.
set -euo pipefail
runner=$(readlink -f "$1")
work=$2
steps=${3:-2000}
population=${4:-16}
generations=${5:-4}
python=/usr/bin/python3
mkdir -p "$work"
# Each planted point: sniff threshold, evaporation rate.
points=("30 0.05" "60 0.2" "80 0.5")
reference_seeds=(101 102 103)
summary=$work/front.txt
: >"$summary"
index=0
for point in "${points[@]}"; do
  read -r sniff evaporation <<<"$point"
  dir=$work/point-$index
  rm -rf "$dir"
  mkdir -p "$dir/reference"
  for seed in "${reference_seeds[@]}"; do
    QT_QPA_PLATFORM=offscreen "$runner" --out "$dir/reference/run-$seed" --seed "$seed" --steps "$steps" \
      --sniff-threshold "$sniff" --evaporation-rate "$evaporation" --quiet
  done
  start=$(date +%s.%N)
  QT_QPA_PLATFORM=offscreen "$runner" --calibrate "$dir/calibration" --method nsga2 --target-runs "$dir/reference" \
    --range sniff-threshold=0:100 --range evaporation-rate=0.01:1:log --steps "$steps" --window 5 \
    --population "$population" --generations "$generations" --calibration-seed "$((index + 1))" 2>"$dir/calibrate.err"
  end=$(date +%s.%N)
  "$python" - "$dir/calibration/pareto.csv" "$sniff" "$evaporation" "$start" "$end" "$index" \
    "$dir/calibrate.err" >>"$summary" <<'PY'
import csv
import math
import sys

path, truths, start, end, index, err = (sys.argv[1], [float(t) for t in sys.argv[2:4]], float(sys.argv[4]),
                                        float(sys.argv[5]), sys.argv[6], sys.argv[7])
front = [r for r in csv.DictReader(open(path)) if r["rank"] == "0"]
runs = [line for line in open(err) if "calibrated in" in line][-1].split("calibrated in ")[1].split(":")[0]
# Each factor on the scale of its prior: sniff threshold 0..100, evaporation log 0.01..1.
scales = [("sniff-threshold", lambda x: x / 100), ("evaporation-rate", lambda x: math.log(x / 0.01) / math.log(100))]
spans = []
for (factor, scale), truth in zip(scales, truths):
    values = [float(r[factor]) for r in front]
    inside = min(values) <= truth <= max(values)
    spans.append(f"{factor} {min(values):.3g}..{max(values):.3g} {'holds' if inside else 'MISSES'} {truth:g}")
nearest = min(math.hypot(*(s(float(r[f])) - s(t) for (f, s), t in zip(scales, truths))) for r in front)
print(f"point {index}: front of {len(front)}; " + "; ".join(spans) +
      f"; nearest member {nearest:.3f} of the priors' ranges away; {runs}, {end - start:.0f} s")
PY
  index=$((index + 1))
done
cat "$summary"
