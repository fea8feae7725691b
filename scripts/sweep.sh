#!/usr/bin/env bash
# Runs a job list of pathwick_run with GNU parallel, one run per line.
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: scripts/sweep.sh JOBS OUTDIR [--jobs N] [--sshloginfile FILE]

Runs every line of the job list JOBS as one pathwick_run, with GNU parallel,
each into its own folder OUTDIR/run-LLLL-seed-S (LLLL: the line number, S:
the line's --seed). A job line holds the options of one run without --out;
blank lines and lines starting with # are skipped. `pathwick_run --grid ...`
prints such a list.

At the end it writes OUTDIR/summary.csv (one row per run: its folder, every
setting, the seed, the steps and the final averages and totals) and
OUTDIR/summary.png (the gene series of all runs, grouped by the settings that
vary between them).

Running the same command again after an interruption completes only what is
missing: finished runs are neither run again nor touched, and what interrupted
runs left is removed first.

Options:
  --jobs N              runs at once on each machine (default: one per core)
  --sshloginfile FILE   spread the runs over the machines in FILE (GNU
                        parallel's format; ':' is this machine); each needs
                        pathwick_run on its PATH
  --help                this text

pathwick_run is taken from PATH, or else from the project's build folder.
Time: the runs' own time divided by the jobs; a run of the default world
takes about 30 s per million steps on one core.
TEXT
}

die_usage() { echo "sweep: $1 (see scripts/sweep.sh --help)" >&2; exit 2; }

root=$(cd "$(dirname "$0")/.." && pwd)
jobs_at_once=""
sshloginfile=""
positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    --help|-h) usage; exit 0 ;;
    --jobs) [ $# -ge 2 ] || die_usage "--jobs needs a number"; jobs_at_once=$2; shift 2 ;;
    --jobs=*) jobs_at_once=${1#--jobs=}; shift ;;
    --sshloginfile) [ $# -ge 2 ] || die_usage "--sshloginfile needs a file"; sshloginfile=$2; shift 2 ;;
    --sshloginfile=*) sshloginfile=${1#--sshloginfile=}; shift ;;
    -*) die_usage "unknown option '$1'" ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ ${#positional[@]} -eq 2 ] || die_usage "give a job list and an output folder"
jobs_file=${positional[0]}
outdir=${positional[1]}
[ -f "$jobs_file" ] || die_usage "no job list at '$jobs_file'"
if [ -n "$jobs_at_once" ] && ! [[ "$jobs_at_once" =~ ^[1-9][0-9]*$ ]]; then
  die_usage "--jobs takes a whole number from 1, not '$jobs_at_once'"
fi
[ -z "$sshloginfile" ] || [ -f "$sshloginfile" ] || die_usage "no ssh login file at '$sshloginfile'"

if ! command -v parallel >/dev/null 2>&1; then
  echo "sweep: GNU parallel is missing; scripts/deps.sh installs it (Debian package parallel)" >&2
  exit 1
fi
runner=$(command -v pathwick_run || true)
[ -n "$runner" ] || runner="$root/build/runner/pathwick_run"
if [ ! -x "$runner" ]; then
  echo "sweep: pathwick_run is neither on PATH nor built in $root/build (scripts/run.sh builds it)" >&2
  exit 1
fi

mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
# What interrupted runs left: their hidden temporary folders.
rm -rf "$outdir"/.run-*.tmp-* "$outdir"/.run-*.old-*

tasks=$(mktemp)
trap 'rm -f "$tasks"' EXIT
line_number=0
while IFS= read -r line || [ -n "$line" ]; do
  line_number=$((line_number + 1))
  line=${line%$'\r'}
  [[ "$line" =~ ^[[:space:]]*(#.*)?$ ]] && continue
  seed=$(sed -nE 's/(^|.*[[:space:]])--seed[[:space:]=]+([0-9]+).*/\2/p' <<<"$line")
  name=$(printf 'run-%04d-seed-%s' "$line_number" "${seed:-clock}")
  record="$outdir/$name/run.json"
  if [ -f "$record" ] && grep -q '"ended": "completed"' "$record"; then
    continue
  fi
  rm -rf "${outdir:?}/$name"  # an interrupted run starts again
  printf '%s\t%s\n' "$name" "$line" >>"$tasks"
done <"$jobs_file"

status=0
if [ -s "$tasks" ]; then
  options=(--colsep '\t' --joblog "$outdir/.joblog")
  [ -t 2 ] && options+=(--bar)
  [ -n "$jobs_at_once" ] && options+=(--jobs "$jobs_at_once")
  if [ -n "$sshloginfile" ]; then
    # Remote runs write into parallel's working folder there; the run
    # folder comes back to OUTDIR when it is done.
    (cd "$outdir" && parallel "${options[@]}" --sshloginfile "$sshloginfile" --workdir ... \
      --return {1} --cleanup pathwick_run --quiet --out {1} --job {2} :::: "$tasks") || status=$?
  else
    parallel -q "${options[@]}" "$runner" --quiet --out "$outdir/{1}" --job {2} :::: "$tasks" || status=$?
  fi
fi
if [ "$status" -ne 0 ]; then
  echo "sweep: $status runs did not finish; see $outdir/.joblog, and run the same command again to complete them" >&2
  exit 1
fi
"$runner" --summarize "$outdir"
