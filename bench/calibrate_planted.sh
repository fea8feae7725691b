#!/usr/bin/env bash
# Planted parameters on the model: reference runs at a known point of two
# factors (sniff threshold and evaporation rate), calibrated by ABC-SMC
# (pathwick_run --calibrate --target-runs), and where the truth falls in
# each posterior: its weighted 95 % interval per factor, whether the truth
# lies inside, the coverage over the planted points, runs and wall time.
#   bench/calibrate_planted.sh PATHWICK_RUN WORKDIR [STEPS] [PARTICLES] [BUDGET]
# WORKDIR is made and kept. STEPS defaults to 3000, PARTICLES to 30, BUDGET
# to 400. Not run by the tests: it takes minutes.
set -euo pipefail
runner=$(readlink -f "$1")
work=$2
steps=${3:-3000}
particles=${4:-30}
budget=${5:-400}
python=/usr/bin/python3
mkdir -p "$work"
# Each planted point: sniff threshold, evaporation rate.
points=("30 0.05" "60 0.2" "80 0.5")
reference_seeds=(101 102 103)
summary=$work/coverage.txt
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
  QT_QPA_PLATFORM=offscreen "$runner" --calibrate "$dir/calibration" --target-runs "$dir/reference" \
    --range sniff-threshold=0:100 --range evaporation-rate=0.01:1:log --steps "$steps" --window 5 \
    --particles "$particles" --budget "$budget" --calibration-seed "$((index + 1))" 2>"$dir/calibrate.err"
  end=$(date +%s.%N)
  "$python" - "$dir/calibration/posterior.csv" "$sniff" "$evaporation" "$start" "$end" "$index" \
    "$dir/calibrate.err" >>"$summary" <<'PY'
import csv, sys
path, truths, start, end, index, err = sys.argv[1], sys.argv[2:4], float(sys.argv[4]), float(sys.argv[5]), sys.argv[6], sys.argv[7]
rows = list(csv.DictReader(open(path)))
runs = [line for line in open(err) if "calibrated in" in line][-1].split("calibrated in ")[1].split(":")[0]
for factor, truth in zip(["sniff-threshold", "evaporation-rate"], truths):
    pairs = sorted((float(r[factor]), float(r["weight"])) for r in rows)
    total = sum(w for _, w in pairs)
    mean = sum(x * w for x, w in pairs) / total
    def quantile(q):
        acc = 0
        for x, w in pairs:
            acc += w / total
            if acc >= q:
                return x
        return pairs[-1][0]
    lo, hi = quantile(0.025), quantile(0.975)
    inside = lo <= float(truth) <= hi
    print(f"point {index} {factor}: truth {truth}, posterior mean {mean:.3f}, 95 % interval [{lo:.3f}, {hi:.3f}], "
          f"{'inside' if inside else 'OUTSIDE'}; {runs}, {end - start:.0f} s")
PY
  index=$((index + 1))
done
cat "$summary"
awk '/inside|OUTSIDE/ { n++; if ($0 ~ /inside/) k++ } END { printf "coverage of the 95 %% intervals: %d of %d\n", k, n }' "$summary"
