#!/usr/bin/env bash
# The pandas snippet of the "Analysing runs" section of docs/sweeps.md, taken
# from the page itself so the two cannot drift, runs on the tables of a small sweep
# and shows the group means of both evaporation rates. Skipped (status 77)
# where no python3 has pandas (Debian: python3-pandas).
#   tests/readme_pandas.sh PATHWICK_RUN PAGE     (PAGE: docs/sweeps.md)
set -euo pipefail
runner=$1
page=$2
python=""
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c 'import pandas' 2>/dev/null; then
    python=$candidate
    break
  fi
done
if [ -z "$python" ]; then
  echo "skipped: no python3 with pandas (scripts/deps.sh test installs python3-pandas)"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The first python block after the section's heading.
awk '/^#+ Analysing runs/ { section = 1 }
     section && /^```python/ { block = 1; next }
     block && /^```/ { exit }
     block { print }' "$page" >"$tmp/snippet.py"
[ -s "$tmp/snippet.py" ] || { echo "no python block under 'Analysing runs' in $page"; exit 1; }

n=0
while read -r line; do
  n=$((n + 1))
  "$runner" --quiet --out "$tmp/sweep-evaporation/run-$n" --job "$line"
done < <("$runner" --grid --vary evaporation-rate=0.2,0.8 --seeds 1-3 --steps 600)
"$runner" --summarize "$tmp/sweep-evaporation" >/dev/null

out=$(cd "$tmp" && "$python" snippet.py)
echo "$out"
for expected in avg_angle_mean avg_angle_ci_low 0.2 0.8; do
  grep -q -- "$expected" <<<"$out" || { echo "the snippet's output lacks $expected"; exit 1; }
done
