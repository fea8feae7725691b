#!/usr/bin/env bash
# pathwick_sweep --precision: a sweep of tiny runs grown in rounds of seeds
# stops when every named interval is narrow enough, or at its cap on runs,
# and says which; its rounds are recorded; the same command again resumes
# without making a finished run again, and in a new folder makes the same
# runs and numbers; --verify covers every round; bad requests are refused
# with status 2 before anything is made.
#   tests/sweep_precision.sh PATHWICK_RUN PATHWICK_SWEEP
set -euo pipefail
runner=$(readlink -f "$1")
sweep=$(readlink -f "$2")
if ! command -v parallel >/dev/null 2>&1; then
  echo "GNU parallel is missing (scripts/deps.sh cluster installs it)"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
export PATHWICK_RUN=$runner
fail() { echo "FAIL: $1"; exit 1; }

# expect STATUS PATTERN COMMAND...: COMMAND exits STATUS and its standard
# error matches the extended regular expression PATTERN.
expect() {
  local want=$1 pattern=$2 status=0
  shift 2
  "$@" >stdout 2>err || status=$?
  [ "$status" -eq "$want" ] || fail "$* exited $status, not $want: $(cat err)"
  grep -Eq -- "$pattern" err || fail "$*: no '$pattern' in: $(cat err)"
}

# column FILE NAME: the cells of a CSV file's column NAME (no quoted commas).
column() { awk -F, -v name="$2" 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == name) c = i; next } { print $c }' "$1"; }

# A 2 x 2 factorial of two seeds a cell, 300 steps of 50 agents a run.
"$runner" --grid --vary evaporation-rate=0.2,0.8 --vary sniff-threshold=5,50 --seeds 1-2 --steps 300 --agents 50 >./jobs
request=(--window 2 --precision trip_rate:effect=3 --max-runs 200)

# Refused before anything is made.
while IFS='|' read -r pattern arguments; do
  read -ra arguments <<<"$arguments"
  expect 2 "^pathwick_(sweep|run): $pattern" "$sweep" jobs refused "${arguments[@]}"
done <<'TABLE'
--precision needs its cap on runs, --max-runs N |--precision trip_rate=1
--max-runs is an option of --precision |--max-runs 5
--max-runs takes a whole number from 1, not '0' |--precision trip_rate=1 --max-runs 0
--precision with --slurm needs --wait:|--slurm --precision trip_rate=1 --max-runs 9
--precision takes .*not 'trip_rate=0': the width is a number above 0|--precision trip_rate=0 --max-runs 9
--precision takes .*not 'trip_rate:S2=1': the quantities with intervals are |--precision trip_rate:S2=1 --max-runs 9
--precision takes .*not 'trip_rate': it is not of that form|--precision trip_rate --max-runs 9
--precision floor_share=1 names floor_share, which the summary does not study |--precision floor_share=1 --max-runs 9
the job list holds 8 runs, more than --max-runs 7|--precision trip_rate=1 --max-runs 7
TABLE
sed 's/ --seed 2$//' jobs >unseeded
expect 2 'line 2 of the job list gives no --seed' "$sweep" unseeded refused --precision trip_rate=1 --max-runs 9
[ ! -e refused ] || fail "a refused precision sweep made its output folder"

# Reached: rounds until both effects' intervals are at most 3 trips wide.
expect 0 '^pathwick_sweep: precision: round [1-9]: every named interval is narrow enough after [0-9]+ runs' \
  "$sweep" jobs a "${request[@]}"
[ "$(grep -vc ': warning: ' err)" -eq 1 ] ||
  fail "a precision sweep said more than one line besides the summary's warnings: $(cat err)"
grep -q '^trip_rate (factorial' stdout || fail "the last round's summary table is not printed"
rounds=$(column a/.sweep/rounds.csv round | sort -u | wc -l)
[ "$rounds" -ge 2 ] || fail "reached without a second round"
runs=$(find a -maxdepth 1 -name 'run-*' | wc -l)
[ "$(column a/.sweep/rounds.csv runs | tail -n1)" -eq "$runs" ] || fail "rounds.csv counts other runs than the folder's $runs"
# Each round's rows: one per named interval; only the last is narrow, and
# the widths shrink from round to round.
[ "$(column a/.sweep/rounds.csv term | sort | uniq -c | awk '{ print $1 }' | sort -u)" = "$rounds" ] ||
  fail "rounds.csv lacks an interval of a round"
[ "$(column a/.sweep/rounds.csv narrow | tail -n2 | sort -u)" = yes ] || fail "the last round is not narrow enough"
[ "$(column a/.sweep/rounds.csv narrow | head -n-2 | sort -u)" = no ] || fail "a round before the last was narrow enough"
column a/.sweep/rounds.csv width | awk 'NR % 2 == 1 { if (NR > 1 && $1 >= last) exit 1; last = $1 }' ||
  fail "the widths do not shrink from round to round: $(column a/.sweep/rounds.csv width | tr '\n' ' ')"
awk -F, 'NR > 1 && $4 != "" { if ($12 > 3 && $14 == "yes" || $12 <= 3 && $14 == "no") exit 1 }' a/.sweep/rounds.csv ||
  fail "rounds.csv's narrow disagrees with its width"
# The last round's widths are those of effects.csv's intervals.
for term in evaporation-rate sniff-threshold; do
  recorded=$(awk -F, -v t="$term" '$7 == t { w = $12 } END { print w }' a/.sweep/rounds.csv)
  summary=$(awk -F, -v t="$term" '$1 == "trip_rate" && $2 == t && $3 == "effect" { printf "%.6g", $6 - $5 }' a/effects.csv)
  [ "$recorded" = "$summary" ] || fail "rounds.csv's width of $term ($recorded) is not effects.csv's ($summary)"
done
# Every point has the same seeds: the new ones follow 1 and 2.
seeds=$(grep -v '^#' a/.sweep/precision.jobs | grep -o -- '--seed [0-9]*$' | sort | uniq -c | awk '{ print $1 }' | sort -u)
[ "$seeds" = 4 ] || fail "the points do not share their seeds: $seeds"
cmp -s -n "$(stat -c %s jobs)" jobs a/.sweep/precision.jobs || fail "precision.jobs does not begin with the job list"

# Again in the same folder: nothing is made again, the record stays.
cp a/.sweep/rounds.csv rounds.before
touch -d '1 minute ago' marker
find a -name run.json -exec touch -r marker {} +
expect 0 'narrow enough' "$sweep" jobs a "${request[@]}"
[ -z "$(find a -name run.json -newer marker)" ] || fail "running again made a finished run again"
cmp -s rounds.before a/.sweep/rounds.csv || fail "running again changed rounds.csv"
# Cut off in its last round: the runs that round left out are made, no others.
mapfile -t last < <(find a -maxdepth 1 -name 'run-*' | sort | tail -n3)
rm -rf "${last[@]}"
sed -i '$d' a/.sweep/rounds.csv
expect 0 'narrow enough' "$sweep" jobs a "${request[@]}"
[ "$(find a -name run.json -newer marker | wc -l)" -eq 3 ] || fail "the resumed sweep did not make just the 3 runs missing"
cmp -s rounds.before a/.sweep/rounds.csv || fail "the resumed sweep recorded other rounds"

# The same command in a new folder: the same runs and numbers.
expect 0 'narrow enough' "$sweep" jobs b "${request[@]}"
for file in .sweep/precision.jobs .sweep/rounds.csv effects.csv summary.csv; do
  cmp -s "a/$file" "b/$file" || fail "the replay's $file differs"
done
# A job list that is not the one the rounds began with.
sed -i 's/--steps 300/--steps 200/' jobs
expect 2 'does not begin with the job list jobs' "$sweep" jobs a "${request[@]}"
sed -i 's/--steps 200/--steps 300/' jobs

# At the cap: no interval of 0.5 within 20 runs; the rounds stay within it.
expect 0 '^pathwick_sweep: precision: round [0-9]+: stopped at the cap of 20 runs after [0-9]+ runs' \
  "$sweep" jobs c --window 2 --precision trip_rate=0.5 --max-runs 20
made=$(find c -maxdepth 1 -name 'run-*' | wc -l)
{ [ "$made" -le 20 ] && [ "$made" -gt 8 ]; } || fail "the capped sweep made $made runs, not 9 to 20"
grep -q ',no$' c/.sweep/rounds.csv || fail "the capped sweep recorded no interval too wide"

# A link planted where the rounds are recorded is refused, never followed.
ln -s /dev/null c/.sweep/rounds.csv.link && mv -T c/.sweep/rounds.csv.link c/.sweep/rounds.csv
expect 2 'refused to write .*rounds.csv: it is not a regular file' \
  "$sweep" jobs c --window 2 --precision trip_rate=0.5 --max-runs 20

# --verify checks the runs of every round.
"$runner" --verify a --repeat 1 >/dev/null 2>&1 || fail "--verify of a precision sweep failed"
[ "$(grep -c 'run-' a/.sweep/verify.txt)" -eq "$(find a -maxdepth 1 -name 'run-*' | wc -l)" ] ||
  fail "--verify did not list every round's runs"

# A quantity the design's analysis does not make: refused after round 0.
expect 2 'the factorial analysis makes no such interval of trip_rate \(it makes effect, interaction\)' \
  "$sweep" jobs d --window 2 --precision trip_rate:ST=0.1 --max-runs 20
echo "sweep_precision: ok"
