#!/usr/bin/env bash
# The sweep's own checks at RUNS folders, without making RUNS runs: one run of
# STEPS steps is made, and its files are copied into every folder a job list
# of RUNS lines names. Then, each under /usr/bin/time -v:
#   checks  the sweep of that list into that folder: nothing left to run, so
#           its reading of the seeds, the --ended queries and the summary
#   report  the same list into an empty folder, stopped (SIGTERM to the whole
#           sweep) at its first run: the report on RUNS runs not completed
#   files   pathwick_run --verify --repeat 0: every run's files against its record
#   bench/sweep_checks_scale.sh PATHWICK_RUN PATHWICK_SWEEP WORKDIR [RUNS] [STEPS]
# RUNS defaults to 100000, STEPS to 200. WORKDIR is made and kept.
set -euo pipefail
default_runs=100000
# shellcheck source=study_common.sh
source "$(dirname "$0")/study_common.sh"
rm -rf "$work/linked" "$work/stopped" "$work/template"

"$runner" --grid --seeds "1-$runs" --steps "$steps" >"$work/jobs"
"$runner" --seed 1 --steps "$steps" --quiet --out "$work/template"
mkdir "$work/linked"
# One process writes every folder, each file a copy (a file takes at most
# 65,000 hard links).
awk '{ for (i = 1; i < NF; i++) if ($i == "--seed") printf "run-%04d-seed-%s\n", NR, $(i + 1) }' "$work/jobs" |
  perl -e 'my ($from, $to) = @ARGV; opendir(my $d, $from) or die; my %bytes;
    for my $f (grep { !/^\./ } readdir($d)) { local $/; open(my $in, "<", "$from/$f") or die; $bytes{$f} = <$in> }
    while (my $name = <STDIN>) { chomp $name; mkdir "$to/$name" or die "$to/$name: $!";
      for my $f (keys %bytes) { open(my $out, ">", "$to/$name/$f") or die "$f: $!"; print $out $bytes{$f}; close($out) or die } }' \
  "$work/template" "$work/linked"

cat >"$work/stopping_run" <<SCRIPT
#!/usr/bin/env bash
case "\$*" in *"--out "*) kill -TERM -- "-\$(cat "$work/sweep.pid")"; exit 1 ;; esac
exec "$runner" "\$@"
SCRIPT
chmod +x "$work/stopping_run"

timed() {
  local stage=$1
  shift
  /usr/bin/time -v -o "$work/times/$stage.txt" "$@"
}
PATHWICK_RUN=$runner timed checks "$sweep" "$work/jobs" "$work/linked" 2>"$work/checks.err"
# parallel gives each run a process group of its own: the run stops the
# sweep's, whose leader has written its pid.
# shellcheck disable=SC2016 # $$ is the inner shell's
PATHWICK_RUN=$work/stopping_run timed report setsid bash -c 'echo $$ >"$1"; shift; exec "$@"' - "$work/sweep.pid" \
  "$sweep" "$work/jobs" "$work/stopped" --jobs 1 2>"$work/report.err" || true
timed files "$runner" --verify "$work/linked" --repeat 0 >"$work/files.out"

for stage in checks report files; do
  awk -F': ' -v stage="$stage" '
    /Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i] }
    /Maximum resident set size/ { kb = $2 }
    END { printf "%s: %.1f s, peak %.0f MiB\n", stage, s, kb / 1024 }' "$work/times/$stage.txt"
done | tee "$work/times/table.txt"
echo "report: $(grep -c . "$work/report.err") lines, $(wc -l <"$work/stopped/.sweep/not-completed.txt") listed" |
  tee -a "$work/times/table.txt"
