#!/usr/bin/env bash
# pathwick_sweep on this machine alone: relative paths; the refusals before
# the first run (a missing tool, named with the package that brings it; a
# --window that is no whole number from 1); --window and --gzip-samples
# reaching the summary; and
# the check after the last run, which names each run that did not complete,
# counts them, and suggests running again only for an interrupted one; and
# the options of a Slurm sweep that are refused before Slurm is asked.
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

"$runner" --grid --seeds 1-2 --steps 300 --agents 50 >jobs
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
[ -s sub/out/samples.csv.gz ] && [ ! -e sub/out/samples.csv ] || fail "--gzip-samples: $(ls sub/out)"
[ "$(zcat sub/out/samples.csv.gz | grep -c '^run-')" -ge 2 ] || fail "samples.csv.gz holds no runs' rows"

# One line refused, one run interrupted (its pathwick_run is stopped with
# SIGTERM once it has samples): both named, counted, and only the interrupted
# one is worth running again.
cat >stopping_run <<SCRIPT
#!/usr/bin/env bash
[[ "\$*" == *"--job "*"--seed 9"* ]] || exec "$runner" "\$@"
"$runner" "\$@" & pid=\$!
for _ in \$(seq 600); do
  [ "\$(cat "$tmp"/mixed/.run-0004-seed-9.tmp-*/series.csv 2>/dev/null | wc -l)" -ge 3 ] && break
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
} >mixed.jobs
expect 1 '^pathwick_sweep: run-0003-seed-3 \(line 3: --steps 300 --agents 50 --sniff sideways --seed 3\) exit 2 on this machine: .*sideways' \
  env PATHWICK_RUN="$tmp/stopping_run" "$sweep" mixed.jobs mixed
grep -Eq '^pathwick_sweep: run-0004-seed-9 \(line 4: .*\) interrupted on this machine$' err || fail "the interrupted run is not named: $(cat err)"
grep -Eq '2 of 4 runs did not complete; .*summary.csv is partial: 2 runs completed .*run the same command again to complete the 1 interrupted$' err ||
  fail "the count and the advice: $(cat err)"
[ "$(grep -c . err)" -eq 3 ] || fail "one line per failed run and one message: $(cat err)"

# Again: the interrupted run is made afresh; the refused line stays refused,
# and running again is no longer suggested.
sed -i 's/--steps 2000000/--steps 400/' mixed.jobs
expect 1 '^pathwick_sweep: 1 of 4 runs did not complete; .*partial: 3 runs completed' "$sweep" mixed.jobs mixed
! grep -q 'again' err || fail "a refused line is not worth running again: $(cat err)"
grep -q '^run-0004-seed-9,.*,completed,' mixed/summary.csv || fail "the interrupted run was not completed"
echo "sweep checks: refusals, relative paths, failed runs named and counted"
