#!/usr/bin/env bash
# pathwick_sweep on this machine alone: relative paths; the refusals before
# the first run (a missing tool, named with the package that brings it; a
# --window that is no whole number from 1); --window and --gzip-samples
# reaching the summary; and
# the check after the last run, which names each run that did not complete,
# counts them, and suggests running again only for an interrupted one; and
# the options of a Slurm sweep that are refused before Slurm is asked; the
# folders refused before anything is made (foreign files, a changed job line);
# and links, FIFOs and folders planted where the sweep writes its own files.
#   tests/sweep_checks.sh PATHWICK_RUN PATHWICK_SWEEP
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

[ "$("$sweep" --version)" = "pathwick_sweep $("$runner" --version | cut -d' ' -f2)" ] || fail "--version"

# A PATH with every program but the named ones.
path_without() {
  rm -rf without && mkdir without
  ln -s /usr/bin/* without/
  local file
  for file in "$@"; do rm -f "without/$file"; done
  echo "$tmp/without"
}

"$runner" --grid --seeds 1-2 --steps 300 --agents 50 >./jobs
printf '%s\n' 'faraway' ':' >hosts
expect 2 '^pathwick_sweep: parallel is missing on this machine, .*Debian package parallel \(scripts/deps.sh cluster\)$' \
  env PATH="$(path_without parallel)" "$sweep" jobs refused
expect 2 '^pathwick_sweep: rsync is missing .*Debian package rsync \(scripts/deps.sh cluster\)$' \
  env PATH="$(path_without rsync)" "$sweep" jobs refused --sshloginfile hosts
for bad in 0 -3 x 2147483648 ""; do
  expect 2 "^pathwick_sweep: --window takes a whole number from 1 to 2147483647, not '$bad' " "$sweep" jobs refused --window "$bad"
done
expect 2 '^pathwick_sweep: --window needs a number ' "$sweep" jobs refused --window
# The options of a Slurm sweep, refused before anything is asked of Slurm.
while IFS='|' read -r pattern arguments; do
  read -ra arguments <<<"$arguments"
  expect 2 "^pathwick_sweep: $pattern" "$sweep" jobs refused "${arguments[@]}"
done <<'TABLE'
--chunk is an option of --slurm |--chunk 2
--wait is an option of --slurm |--wait
unknown option '--partition=short' |--partition=short
--slurm comes before the sbatch options |--time 5 --slurm
the sweep sets the array itself \(--array=1-3\)|--slurm --array=1-3
the sweep sets the array itself \(-a\)|--slurm --time 5 -a 1-3
the sweep gives the jobs their commands; --wrap does not fit |--slurm --wrap hostname
--window comes before the sbatch options |--slurm -- --window 2
--slurm and --sshloginfile exclude each other |--slurm --sshloginfile hosts
with --slurm the runs at once in a task are its CPUs |--slurm --jobs 2
--chunk takes a whole number from 1, not '0' |--slurm --chunk 0
--chunk takes a whole number from 1, not '2x' |--slurm --chunk=2x
TABLE
expect 2 '^pathwick_sweep: sbatch is missing on this machine, .*Debian package slurm-client \(scripts/deps.sh cluster\)$' \
  env PATH="$(path_without sbatch)" "$sweep" jobs refused --slurm
[ ! -e refused ] || fail "a refused sweep made its output folder"
"$sweep" --help | grep -Eq '^Usage: .*\[--window K\]' || fail "--help has no --window"

# Relative paths, on this machine: every run, and the summary.
mkdir sub
(cd sub && "$sweep" ../jobs out --jobs 2) || fail "a sweep with relative paths exited $?"
[ "$(grep -c '^run-.*,completed,' sub/out/summary.csv)" -eq 2 ] || fail "the summary lacks runs"
# Again with --window: nothing is run, and the summary's window is the one given.
window_of_runs() { awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "window") c = i; next } { print $c }' "$1"; }
[ "$(window_of_runs sub/out/summary.csv)" = $'1\n1' ] || fail "without --window: $(window_of_runs sub/out/summary.csv)"
(cd sub && "$sweep" ../jobs out --window=2) || fail "a sweep with --window exited $?"
[ "$(window_of_runs sub/out/summary.csv)" = $'2\n2' ] || fail "--window 2: $(window_of_runs sub/out/summary.csv)"
# --gzip-samples reaches the summary: the samples compressed, the plain table gone.
(cd sub && "$sweep" ../jobs out --gzip-samples) || fail "a sweep with --gzip-samples exited $?"
{ [ -s sub/out/samples.csv.gz ] && [ ! -e sub/out/samples.csv ]; } || fail "--gzip-samples: $(ls sub/out)"
[ "$(zcat sub/out/samples.csv.gz | grep -c '^run-')" -ge 2 ] || fail "samples.csv.gz holds no runs' rows"

# Folders the sweep refuses before it makes or removes anything: one row per
# case, with what is done to a copy of a finished sweep's folder, the
# refusal, and the job list given (the folder is unchanged afterwards).
snapshot() { (cd "$1" && find . -path ./.sweep -prune -o -print0 | sort -z | xargs -0 stat -c '%n %s %Y %i'); }
sed 's/--agents 50/--agents 90 --sniff roulette/' jobs >edited.jobs
while IFS='|' read -r setup pattern list; do
  rm -rf case && cp -a sub/out case
  (cd case && eval "$setup")
  before=$(snapshot case)
  expect 2 "^pathwick_sweep: $pattern" "$sweep" "$list" case
  [ "$(snapshot case)" = "$before" ] || fail "the refused sweep ($setup) changed its folder"
done <<'TABLE'
echo mine >notes.txt|[^ ]*/case holds [^ ]*/case/notes.txt, which is no run of this job list nor a file of its sweep|jobs
echo mine >run-0001-seed-1/notes.txt; rm run-0001-seed-1/run.json|[^ ]*/case/run-0001-seed-1 holds files that are not a run|jobs
mkdir run-0009-seed-9|[^ ]*/case holds [^ ]*/case/run-0009-seed-9, which is no run|jobs
ln -s ../jobs summary.csv.lnk|[^ ]*/case holds [^ ]*/case/summary.csv.lnk, which is no run|jobs
:|[^ ]*/case/run-0001-seed-1 \(line 1\) was made otherwise than its job line asks: agents 50 in its record, 90 in its job line; sniff hill in its record, roulette in its job line; give --redo-changed|edited.jobs
TABLE
# A summary.csv is the sweep's only where a sweep has been.
rm -rf case && mkdir case && echo mine >case/summary.csv
expect 2 '^pathwick_sweep: [^ ]*/case holds [^ ]*/case/summary.csv, which is no run' "$sweep" jobs case
{ [ "$(ls -A case)" = summary.csv ] && [ "$(cat case/summary.csv)" = mine ]; } || fail "a user's summary.csv was touched"
rm -rf case && echo file >case
expect 2 '^pathwick_sweep: [^ ]*/case exists and is not a folder$' "$sweep" jobs case
[ "$(cat case)" = file ] || fail "the file given as the output folder was changed"
# Asked for, the changed runs are made again; a user's file in one of them keeps it.
rm -rf case && cp -a sub/out case
"$sweep" edited.jobs case --redo-changed 2>err || fail "--redo-changed exited $?: $(cat err)"
[ "$(grep -c '^run-.*,90,.*,completed,' case/summary.csv)" -eq 2 ] || fail "--redo-changed: $(cat case/summary.csv)"
rm -rf case && cp -a sub/out case && echo mine >case/run-0002-seed-2/notes.txt
expect 2 '^pathwick_sweep: [^ ]*/case/run-0002-seed-2 holds [^ ]*/notes.txt, which its run did not write' \
  "$sweep" edited.jobs case --redo-changed
[ "$(cat case/run-0002-seed-2/notes.txt)" = mine ] || fail "a user's file in a run was removed"

# One line refused, one run interrupted (its pathwick_run is stopped with
# SIGTERM once it has samples): both named, counted, and only the interrupted
# one is worth running again.
cat >stopping_run <<SCRIPT
#!/usr/bin/env bash
case "\$*" in *"--job "*"--seed 5"*) kill -SEGV \$\$ ;; esac
[[ "\$*" == *"--job "*"--seed 9"* ]] || exec "$runner" "\$@"
"$runner" "\$@" & pid=\$!
for _ in \$(seq 600); do
  [ "\$(cat "$tmp"/mixed/.run-0004-seed-9.tmp-*/.series.csv.*.part 2>/dev/null | wc -l)" -ge 3 ] && break
  sleep 0.05
done
kill -TERM \$pid
wait \$pid
SCRIPT
chmod +x stopping_run
{
  cat jobs
  echo "--steps 300 --agents 50 --sniff sideways --seed 3"
  echo "--steps 2000000 --agents 50 --seed 9"
  echo "--steps 300 --agents 50 --seed 5"
} >mixed.jobs
expect 1 '^pathwick_sweep: run-0003-seed-3 \(line 3: --steps 300 --agents 50 --sniff sideways --seed 3\) exit 2 on this machine: .*sideways' \
  env PATHWICK_RUN="$tmp/stopping_run" "$sweep" mixed.jobs mixed
grep -Eq '^pathwick_sweep: run-0004-seed-9 \(line 4: .*\) interrupted on this machine$' err || fail "the interrupted run is not named: $(cat err)"
# A run that a signal killed (not the sweep's stop) failed, and says by which.
grep -Eqx 'pathwick_sweep: run-0005-seed-5 \(line 5: .*\) killed by signal 11 \(SIGSEGV\) on this machine' err ||
  fail "the crashed run is not named with its signal: $(cat err)"
grep -Eq '3 of 5 runs did not complete; .*summary.csv is partial: 2 runs completed .*run the same command again to complete the 1 interrupted$' err ||
  fail "the count and the advice: $(cat err)"
grep -qx 'pathwick_sweep: of 5 runs 2 completed, 2 failed, 1 interrupted' err || fail "the counts: $(cat err)"
grep -qx "pathwick_sweep: every run that did not complete, one a line: $tmp/mixed/.sweep/not-completed.txt" err ||
  fail "the list is not named: $(cat err)"
[ "$(grep -c . err)" -eq 6 ] || fail "counts, three runs, the list and one message: $(cat err)"
[ "$(cut -d' ' -f1 mixed/.sweep/not-completed.txt)" = $'run-0003-seed-3\nrun-0004-seed-9\nrun-0005-seed-5' ] ||
  fail "the list: $(cat mixed/.sweep/not-completed.txt)"

# Again: the interrupted run is made afresh; the refused line stays refused,
# and running again is no longer suggested.
sed -i 's/--steps 2000000/--steps 400/' mixed.jobs
sed -i '/--seed 5$/d' mixed.jobs
expect 1 '^pathwick_sweep: 1 of 4 runs did not complete; .*partial: 3 runs completed' "$sweep" mixed.jobs mixed
! grep -q 'again' err || fail "a refused line is not worth running again: $(cat err)"
grep -q '^run-0004-seed-9,.*,completed,' mixed/summary.csv || fail "the interrupted run was not completed"
[ "$(wc -l <mixed/.sweep/not-completed.txt)" -eq 1 ] || fail "the list of an earlier sweep stays: $(cat mixed/.sweep/not-completed.txt)"

# The report of a sweep of 300 runs stopped at its second run (the run sends
# SIGTERM to the whole sweep, its process group, as Ctrl-C would) stays a few
# lines long; the list holds every run not completed.
seq 300 | sed 's/.*/--steps 100 --agents 20 --seed &/' >many.jobs
cat >stopping_sweep <<SCRIPT
#!/usr/bin/env bash
case "\$*" in *"--out "*"/run-0002-"*) kill -TERM -- "-\$(cat "$tmp/sweep.pid")"; exit 1 ;; esac
exec "$runner" "\$@"
SCRIPT
chmod +x stopping_sweep
status=0
# shellcheck disable=SC2016 # $$ is the inner shell's
PATHWICK_RUN=$tmp/stopping_sweep setsid bash -c 'echo $$ >sweep.pid; exec "$0" "$@"' "$sweep" many.jobs many --jobs 1 \
  >/dev/null 2>err || status=$?
[ "$status" -eq 143 ] || fail "the stopped sweep exited $status, not 128 + SIGTERM: $(cat err)"
# The stopped run is counted as interrupted when parallel logged it before it stopped too.
grep -Eqx 'pathwick_sweep: of 300 runs 1 completed, (1 interrupted, 298|299) not started' err || fail "the counts: $(cat err)"
[ "$(grep -c . err)" -le 7 ] || fail "the report of 300 runs is $(grep -c . err) lines long: $(head -n 20 err)"
[ "$(wc -l <many/.sweep/not-completed.txt)" -eq 299 ] || fail "the list does not hold the 299 runs not completed"
grep -q '^run-0300-seed-300 (line 300: --steps 100 --agents 20 --seed 300) not run: the sweep was interrupted$' \
  many/.sweep/not-completed.txt || fail "the last run is not listed: $(tail -n1 many/.sweep/not-completed.txt)"

# One sweep per folder: a second one is refused, naming the first, while the
# first (its run waiting on a fifo) holds it; once the first is killed with
# SIGKILL, the folder is free again.
mkfifo begun never
cat >holding_run <<SCRIPT
#!/bin/sh
case "\$*" in
  *"--out "*) echo begun >"$tmp/begun"; read -r _ <"$tmp/never"; exit 1 ;;
  *) exec "$runner" "\$@" ;;
esac
SCRIPT
chmod +x holding_run
PATHWICK_RUN=$tmp/holding_run setsid "$sweep" jobs held --jobs 1 >/dev/null 2>held.err &
holder=$!
exec 3<>begun
read -r -t 240 -u 3 _ || fail "the held sweep never began its run: $(cat held.err)"
exec 3<&-
expect 2 "^pathwick_sweep: $tmp/held is taken by a sweep that is still running \(pid $holder on [^,]+, started [0-9-]+ [0-9:]+ UTC: pathwick_sweep jobs held --jobs 1\)" \
  "$sweep" jobs held
kill -KILL -- "-$holder"
wait "$holder" || true
# Its run, in a process group of parallel's own, is let go.
exec 3<>never
echo go >&3
exec 3>&-
"$sweep" jobs held 2>err || fail "a sweep after the first was killed exited $?: $(cat err)"
[ "$(grep -c '^run-.*,completed,' held/summary.csv)" -eq 2 ] || fail "the sweep after the killed one lacks runs"
# Hostile things where the sweep writes its own files, a row each: a link
# to a file outside, a link to /dev/null, a FIFO and a folder are refused
# with status 2 naming the file, before any run, and still stand; the file
# outside is unchanged. A read-only regular file (a second link of the file
# outside) is replaced by a new file, the outside one unchanged.
plant() {  # plant KIND PATH
  case $1 in
    link-outside) ln -s "$tmp/outside.txt" "$2" ;;
    link-devnull) ln -s /dev/null "$2" ;;
    fifo) mkfifo "$2" ;;
    folder) mkdir "$2" ;;
    read-only) ln "$tmp/outside.txt" "$2" && chmod 444 "$2" ;;
  esac
}
still_planted() {  # still_planted KIND PATH
  case $1 in
    link-*) [ -L "$2" ] ;;
    fifo) [ -p "$2" ] ;;
    folder) [ -d "$2" ] && [ ! -L "$2" ] ;;
  esac
}
for file in lock holder runs tasks joblog; do
  for kind in link-outside link-devnull fifo folder read-only; do
    rm -rf hostile && mkdir -p hostile/.sweep
    echo "the user's own file" >outside.txt
    plant "$kind" "hostile/.sweep/$file"
    if [ "$kind" = read-only ]; then
      "$sweep" jobs hostile 2>err || fail ".sweep/$file as $kind: the sweep exited $?: $(cat err)"
      { [ -f "hostile/.sweep/$file" ] && [ ! -L "hostile/.sweep/$file" ]; } || fail ".sweep/$file as $kind is not a file"
    else
      expect 2 "^pathwick_sweep: refused to write $tmp/hostile/.sweep/$file: it is not a regular file" "$sweep" jobs hostile
      still_planted "$kind" "hostile/.sweep/$file" || fail ".sweep/$file as $kind was replaced"
      [ -z "$(find hostile -name 'run-*' -print -quit)" ] || fail ".sweep/$file as $kind: a run was made"
    fi
    [ "$(cat outside.txt)" = "the user's own file" ] || fail ".sweep/$file as $kind: the file outside was written"
  done
done
# A job list that is a device, a FIFO or larger than a job list may be is
# refused before it is read.
mkfifo jobs.fifo
truncate -s 4G jobs.sparse
for list in /dev/zero jobs.fifo; do
  expect 2 "^pathwick_sweep: no job list at '$list' \(a regular file\)" "$sweep" "$list" bounded
done
expect 2 "^pathwick_sweep: the job list 'jobs.sparse' holds more than the 268435456 bytes" "$sweep" jobs.sparse bounded
rm -f jobs.fifo jobs.sparse
# The folder .sweep itself as a link to a folder outside.
rm -rf hostile elsewhere && mkdir hostile elsewhere && ln -s "$tmp/elsewhere" hostile/.sweep
expect 2 "^pathwick_sweep: $tmp/hostile holds $tmp/hostile/.sweep, which is no run of this job list nor a file of its sweep" "$sweep" jobs hostile
[ -z "$(ls -A elsewhere)" ] || fail "the sweep wrote into the folder .sweep links to"

# Misuse, refused with status 2 and one line as the help says, a row each:
# the status, the message, the command (pathwick_sweep's, pathwick_run's).
echo file >a-file
printf '%s\n' '--steps 10' '--steps 20' >two.lines
while IFS='|' read -r want pattern command; do
  eval "set -- $command"
  expect "$want" "$pattern" "$@"
  [ "$(grep -c . err)" -eq 1 ] || fail "$command: more than one line: $(cat err)"
done <<'TABLE'
2|^pathwick_sweep: [^ ]*/a-file exists and is not a folder$|"$sweep" jobs a-file
2|^pathwick_sweep: cannot make the output folder [^ ]*/a-file/sub: Not a directory$|"$sweep" jobs a-file/sub
2|^pathwick_sweep: no job list at 'sub' \(a regular file\)|"$sweep" sub out
2|^pathwick_sweep: give a job list and an output folder|"$sweep" jobs
2|^pathwick_sweep: --jobs takes a whole number from 1, not '0'|"$sweep" jobs out --jobs 0
2|^pathwick_sweep: --jobs needs a number|"$sweep" jobs out --jobs
2|^pathwick_sweep: no ssh login file at 'none'|"$sweep" jobs out --sshloginfile none
2|^pathwick_run: --parallel-status takes a whole number from 0 to 255, not '300'|"$runner" --check-sweep sub --parallel-status 300
2|^pathwick_run: refused to read /dev/zero: it is not a regular file|"$runner" --job @/dev/zero
2|^pathwick_run: two.lines holds more than one job line|"$runner" --job @two.lines
2|^pathwick_run: cannot read none: No such file or directory|"$runner" --job @none
TABLE
{ [ ! -e out ] && [ "$(cat a-file)" = file ]; } || fail "a refused sweep made or changed its output folder"

# A job line of 200 KB (blanks between its options) runs as any other: its
# seed is read and its options reach the run, past the 128 KiB an argument
# may hold; the report names it in one short line. A sweep over other
# machines refuses it before the first run.
blanks=$(head -c 200000 /dev/zero | tr '\0' ' ')
{
  echo "--steps 200 --agents 30${blanks}--seed 6"
  echo "--steps 200 --agents 30${blanks}--sniff sideways --seed 7"
} >long.jobs
expect 1 '^pathwick_sweep: run-0002-seed-7 \(line 2: --steps 200 --agents 30 {100,}\.\.\. \(200048 characters\)\) exit 2 on this machine: .*sideways' \
  "$sweep" long.jobs long
{ grep -q '^run-0001-seed-6,.*,completed,' long/summary.csv && grep -q '"agents": 30,' long/run-0001-seed-6/run.json; } ||
  fail "the long line's run: $(cat long/summary.csv)"
[ "$(awk '{ print length }' err | sort -n | tail -n1)" -lt 1000 ] || fail "the report of a long line is long"
[ "$(awk 'length($0) > 200048 && /--sniff sideways --seed 7\) exit 2/' long/.sweep/not-completed.txt | wc -l)" -eq 1 ] ||
  fail "the list lacks the whole long line"
expect 2 "^pathwick_sweep: line 1 of the job list is 200031 bytes long, more than the 65536 bytes a line may be to run on another machine" \
  "$sweep" long.jobs long-remote --sshloginfile hosts
[ ! -e long-remote ] || fail "the refused long sweep made its folder"

# The chunks on this machine, for 2 and 3 slots: every run once and in
# order, each slot's first chunk one run, few chunks (a start each), and the
# last ones even to within a run.
seq 60 | awk '{ printf "--steps 5 --agents 4 --seed %d\n", $1 }' >many.jobs
for slots in 2 3; do
  "$sweep" many.jobs "many-$slots" --jobs "$slots" 2>err >/dev/null || fail "60 tiny runs on $slots slots: $(cat err)"
  cut -f2 "many-$slots/.sweep/chunk-runs" | cmp -s - <(cut -f1 "many-$slots/.sweep/runs") ||
    fail "the chunks of $slots slots do not hold every run once in order"
  read -r -a sizes <<<"$(cut -f1 "many-$slots/.sweep/chunk-runs" | uniq -c | awk '{ printf "%s ", $1 }')"
  count=${#sizes[@]}
  # Each slot: one run, then chunks four times as large, then the tail.
  [ "$count" -le $((slots * 5)) ] || fail "$slots slots start $count chunks for 60 runs: ${sizes[*]}"
  for ((c = 0; c < slots; c++)); do [ "${sizes[$c]}" -eq 1 ] || fail "a first chunk of ${sizes[$c]} runs: ${sizes[*]}"; done
  last=("${sizes[@]:count-slots}")
  [ $((last[0] - last[slots - 1])) -le 1 ] || fail "the last chunks of $slots slots are uneven: ${sizes[*]}"
done

# Chunks whose options would pass what GNU parallel takes as a command
# (300 runs of lines of 1,000 bytes: a chunk of 64 runs is 64 KB), and a
# line just under 64 KiB, which goes to its run in a file.
blanks=$(head -c 1000 /dev/zero | tr '\0' ' ')
seq 300 | awk -v b="$blanks" '{ printf "--steps 2 --agents 2%s--seed %d\n", b, $1 }' >wide.jobs
"$sweep" wide.jobs wide --jobs 2 2>err >/dev/null || fail "300 runs of long lines: $(head -c 300 err)"
[ "$(grep -c ',completed,' wide/summary.csv)" -eq 300 ] || fail "300 runs of long lines: not all completed"
blanks=$(head -c 64500 /dev/zero | tr '\0' ' ')
echo "--steps 20 --agents 5${blanks}--seed 6" >near.jobs
"$sweep" near.jobs near 2>err >/dev/null || fail "a line of 64,530 bytes: $(head -c 300 err)"
[ -f near/.sweep/lines/run-0001-seed-6 ] || fail "the line of 64,530 bytes was not handed over in a file"

echo "sweep checks: refusals, relative paths, failed runs counted and listed, the lock, misuse, long lines, chunks"
