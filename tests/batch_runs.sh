#!/usr/bin/env bash
# pathwick_run --jobs: the lines of a job list run in one process give the
# folders the same lines give run alone, byte for byte but the wall time, in
# any order and in chunks of any size; a failing line is named and the rest
# go on; a stop ends the run under way and starts no other; a run killed
# with its process leaves every run before it complete; what makes no sense
# in a batch is refused with status 2 before anything is written.
#   tests/batch_runs.sh PATHWICK_RUN
set -euo pipefail
runner=$(readlink -f "$1")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
export QT_QPA_PLATFORM=offscreen

fail() { echo "batch runs: $1" >&2; exit 1; }

# same A B: the run folders A and B hold the same files with the same bytes,
# run.json apart from its wall time.
same() {
  diff -r -x run.json "$1" "$2" >/dev/null || fail "$2 differs from $1: $(diff -rq -x run.json "$1" "$2" | head -n 3)"
  diff <(grep -v '"wall_time_seconds"' "$1/run.json") <(grep -v '"wall_time_seconds"' "$2/run.json") >/dev/null ||
    fail "$2/run.json differs from $1/run.json beyond the wall time"
}

# A checkpoint and a record for lines that continue or repeat a run.
"$runner" --quiet --out base --job "--steps 300 --agents 40 --seed 11 --checkpoint-every 300"

# Lines that reach every part of the engine a run could leave behind: cell
# sizes (the grid's globals), the hooks of samples and births, pictures and
# snapshots, the watch's tables, checkpoints kept and read, a repeated record.
cat >lines <<LINES
small-cells	--steps 250 --agents 60 --cell-size 3 --seed 5 --histograms
large-cells	--steps 300 --agents 30 --cell-size 9 --seed 6 --plot --snapshot-every 100
roulette	--steps 200 --agents 80 --sniff roulette --evaporation-rate 0.7 --seed 7 --births
watched	--steps 200 --agents 50 --agents-every 100 --field-every 200 --seed 8
kept	--steps 300 --agents 40 --seed 9 --keep-checkpoints --checkpoint-every 100
continued	--from $tmp/base/checkpoint.pwk --steps 200
repeated	--config $tmp/base/run.json
clock-free	--steps 100 --agents 20 --seed 0 --diffuse on
LINES
names=$(cut -f1 lines)

# Alone: one process a line.
while IFS=$'\t' read -r name line; do
  "$runner" --quiet --out "alone/$name" --job "$line"
done <lines

# In one process, in order, reversed, and shuffled in chunks of 1, 3 and 5
# from standard input.
"$runner" --jobs lines --out forward >forward.out 2>forward.err || fail "the batch exited $?: $(cat forward.err)"
[ "$(cut -f1 forward.out)" = "$names" ] || fail "the folders are not told in order: $(cat forward.out)"
! cut -f2 forward.out | grep -qvx 0 || fail "a run failed: $(cat forward.out forward.err)"
tac lines >reversed.lines
"$runner" --jobs reversed.lines --out reversed >/dev/null || fail "the reversed batch exited $?"
awk 'BEGIN { srand(38) } { print rand() "\t" $0 }' lines | sort -n | cut -f2- >shuffled.lines
for size in 1 3 5; do
  split -l "$size" shuffled.lines "chunk-$size-"
  for chunk in chunk-"$size"-*; do
    "$runner" --jobs - --out "chunks-$size" <"$chunk" >/dev/null || fail "a chunk of $size exited $?"
  done
done
for name in $names; do
  for batch in forward reversed chunks-1 chunks-3 chunks-5; do same "alone/$name" "$batch/$name"; done
done
# The same runs as --out DIR --job LINE pairs on the command line, as
# pathwick_sweep hands a chunk to a process.
pairs=()
while IFS=$'\t' read -r name line; do pairs+=(--out "pairs/$name" --job "$line"); done <lines
mkdir pairs
"$runner" --quiet "${pairs[@]}" >pairs.out || fail "the runs as pairs exited $?"
[ "$(cut -f1 pairs.out)" = "$(cut -f1 lines | sed 's|^|pairs/|')" ] || fail "the pairs told: $(cat pairs.out)"
for name in $names; do same "alone/$name" "pairs/$name"; done
# The folders of a plain job list are named as pathwick_sweep names them.
printf '# plain\n\n--steps 100 --agents 20 --seed 4\n--steps 100 --agents 20\n' >plain.lines
"$runner" --jobs plain.lines --out plain >plain.out || fail "the plain batch exited $?"
[ "$(cut -f1 plain.out)" = $'run-0003-seed-4\nrun-0004-seed-clock' ] ||
  fail "the plain list's folders: $(cat plain.out)"
# Every file of the batch is as its record lists it, and a repeat gives its bytes.
"$runner" --verify forward --repeat 2 >verify.out 2>&1 || fail "--verify of the batch: $(tail -n 3 verify.out)"
echo "batch runs: $(wc -l <lines) lines, each as made alone, in order, reversed, in chunks of 1, 3 and 5 and as pairs"

# A failing line in the middle: named on its own line, the others made, the
# summary names it, status 1.
printf 'one\t--steps 100 --agents 20 --seed 1\nbad\t--steps 100 --sniff sideways\nthree\t--steps 100 --agents 20 --seed 3\n' >failing.lines
status=0
"$runner" --jobs failing.lines --out failing >failing.out 2>failing.err || status=$?
[ "$status" -eq 1 ] || fail "a batch with a failing line exited $status"
[ "$(cat failing.out)" = $'one\t0\nbad\t2\nthree\t0' ] || fail "the statuses: $(cat failing.out)"
grep -qx "pathwick_run: bad (line 2): --sniff takes hill or roulette, not 'sideways'" failing.err ||
  fail "the failing line is not named: $(cat failing.err)"
grep -qx 'pathwick_run: of 3 runs 2 completed; 1 failed (line 2)' failing.err || fail "the summary: $(cat failing.err)"
[ "$(ls failing)" = $'one\nthree' ] || fail "the failing line left: $(ls -A failing)"

# Refused with status 2, nothing written: options a batch does not take, a
# list that names one folder twice or no plain folder, no list.
printf 'a\t--steps 10\n' >one.lines
printf 'a\t--steps 10\na\t--steps 20\n' >twice.lines
printf '../up\t--steps 10\n' >up.lines
while IFS='|' read -r pattern args; do
  status=0
  # shellcheck disable=SC2086 # the arguments of the row, split into words
  "$runner" $args >refused.out 2>refused.err || status=$?
  [ "$status" -eq 2 ] || fail "$args exited $status: $(cat refused.err)"
  grep -Eq "^pathwick_run: $pattern" refused.err || fail "$args: $(cat refused.err)"
  [ ! -e refused ] || fail "$args wrote its folder"
done <<'ROWS'
--show does not take --jobs|--jobs one.lines --out refused --show
--jobs does not take --steps|--jobs one.lines --out refused --steps 10
--jobs does not take --steps|--jobs one.lines --out refused --job --steps=10
--jobs does not take --agents|--jobs one.lines --out refused --agents 5
--jobs writes a folder for each run: give --out DIR|--jobs one.lines
twice.lines: lines 1 and 2 both run into a|--jobs twice.lines --out refused
up.lines, line 1: '../up' is no folder name|--jobs up.lines --out refused
.*no-such.lines|--jobs no-such.lines --out refused
--out is given more than once|--out refused/a --job --steps=10 --out refused/b
runs given as pairs of --out DIR --job LINE take only --quiet and --force beside them, not '--steps=5'|--out refused/a --job --steps=10 --out refused/b --job --steps=10 --steps 5
refused/a is given twice|--out refused/a --job --steps=10 --out refused/a --job --steps=20
ROWS
echo "batch runs: a failing line named, the others made; refusals before anything is written"

# A stop (SIGTERM) ends the run under way, recorded as interrupted, and
# starts no other; a kill leaves the runs before it complete and the run
# under way nowhere but in its hidden temporary folder.
printf 'first\t--steps 100 --agents 20 --seed 1\nlong\t--steps 2000000 --agents 20 --seed 2\nlast\t--steps 100 --seed 3\n' >stopped.lines
under_way() {  # under_way DIR: waits until the run of line 2 has begun
  local i
  for ((i = 0; i < 600; i++)); do
    compgen -G "$1/.long.tmp-*" >/dev/null && [ -f "$1/first/run.json" ] && return 0
    sleep 0.1
  done
  fail "the long run of $1 never began"
}
for signal in TERM KILL; do
  "$runner" --jobs stopped.lines --out "stopped-$signal" >"stopped-$signal.out" 2>"stopped-$signal.err" &
  pid=$!
  under_way "stopped-$signal"
  kill "-$signal" "$pid"
  status=0
  { wait "$pid"; } 2>/dev/null || status=$?
  [ "$status" -eq "$([ "$signal" = TERM ] && echo 1 || echo 137)" ] || fail "the batch stopped with $signal exited $status"
  [ ! -e "stopped-$signal/last" ] || fail "a run after the $signal was started"
done
"$runner" --quiet --out alone-first --job "--steps 100 --agents 20 --seed 1"
same alone-first stopped-TERM/first
same alone-first stopped-KILL/first
grep -q '"ended": "interrupted"' stopped-TERM/long/run.json || fail "the stopped run is not recorded as interrupted"
[ "$(cat stopped-TERM.out)" = $'first\t0\nlong\t0' ] || fail "the stopped batch told: $(cat stopped-TERM.out)"
grep -qx 'pathwick_run: of 3 runs 2 completed; 1 not started, as the batch was stopped (line 3)' stopped-TERM.err ||
  fail "the stopped batch's summary: $(cat stopped-TERM.err)"
[ "$(cat stopped-KILL.out)" = $'first\t0' ] || fail "the killed batch told: $(cat stopped-KILL.out)"
[ ! -e stopped-KILL/long ] || fail "the killed run appeared as a folder"
echo "batch runs: a stop ends the run under way and starts no other; a kill loses no completed run"
