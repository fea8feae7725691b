#!/usr/bin/env bash
# Every writer under a failing disk: for each case, the n-th call that
# writes, renames, syncs or creates a file in the case's folder fails
# (tests/fault/fault_shim.cpp, loaded with LD_PRELOAD), for n = 1, 2, ...
# until a run meets no failure. After each failure the status is not 0, the
# message names the error, and the folder is exactly as it was before (every
# file byte for byte, nothing added, no temporary left). The run that meets
# no failure ends with status 0 and the files a run without the shim makes.
# The cases: a run with a checkpoint, replacing a run (--force); its
# continuation from the checkpoint; a sweep's summary replacing an earlier
# one of other runs (and its stale comparison.csv); the same with
# samples.csv.gz; --verify's list of a sweep; and World.save of the Python
# module, when PYTHONPATH holds it.
#   tests/fault_injection.sh PATHWICK_RUN FAULT_SHIM [PYTHON]
set -euo pipefail
runner=$(readlink -f "$1")
shim=$(readlink -f "$2")
python=${3:-}
tmp=$(readlink -f "$(mktemp -d)")
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen
fail() {
  echo "FAIL: $1"
  exit 1
}

# Tiny runs: every case is repeated once per call it makes.
small=(--steps 40 --agents 12)
"$runner" --seed 1 "${small[@]}" --checkpoint-every 40 --out "$tmp/pristine/run-1" >/dev/null
"$runner" --seed 2 "${small[@]}" --out "$tmp/pristine/run-2" >/dev/null
"$runner" --seed 3 --agents 14 --steps 40 --out "$tmp/pristine/run-3" >/dev/null

# Every entry under a folder, hidden ones too, with each file's SHA-256.
snapshot() {
  (
    cd "$1"
    find . -mindepth 1 -printf '%y %p\n' | LC_ALL=C sort
    find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum
  )
}

# inject NAME COMMAND...: COMMAND under the failing disk, the n-th call under
# $work failing, for every n (only calls on paths that hold $match, when set).
# prepare_NAME makes $work anew before each try; done_NAME checks what the try
# that met no failure made.
inject() {
  local name=$1 n=1 status
  shift
  while :; do
    rm -rf "$work" "$tmp/report"
    "prepare_$name"
    snapshot "$work" >"$tmp/before"
    status=0
    LD_PRELOAD=$shim PATHWICK_FAULT_UNDER=$work PATHWICK_FAULT_AT=$n PATHWICK_FAULT_ERRNO=${errno:-ENOSPC} \
      PATHWICK_FAULT_MATCH=${match:-} \
      PATHWICK_FAULT_REPORT=$tmp/report "$@" >"$tmp/out" 2>"$tmp/err" || status=$?
    if [ ! -s "$tmp/report" ]; then
      [ "$status" -eq 0 ] || fail "$name: status $status without a failed call: $(cat "$tmp/err")"
      "done_$name"
      echo "$name: each of its $((n - 1)) calls failed in turn, and each left the folder as it was"
      return
    fi
    local failed
    failed=$(cat "$tmp/report")
    [ "$status" -ne 0 ] || fail "$name: status 0 although call $failed failed"
    grep -q "${message:-No space left on device}" "$tmp/err" "$tmp/out" ||
      fail "$name: after call $failed the message does not name the error: $(cat "$tmp/err")"
    snapshot "$work" >"$tmp/after"
    if ! cmp -s "$tmp/before" "$tmp/after"; then
      diff "$tmp/before" "$tmp/after" | head -20 || true
      fail "$name: after call $failed (status $status) the folder changed"
    fi
    n=$((n + 1))
  done
}

work=$tmp/work

# A run with its checkpoint, replacing a run of another seed.
prepare_run() { mkdir -p "$work" && cp -a "$tmp/pristine/run-2" "$work/run"; }
done_run() {
  grep -q '"seed": 5' "$work/run/run.json" || fail "run: the new run is not in place"
  [ -f "$work/run/checkpoint.pwk" ] || fail "run: no checkpoint"
  [ "$(find "$work" -mindepth 1 -maxdepth 1 | wc -l)" -eq 1 ] || fail "run: something beside the run: $(ls -A "$work")"
  "$runner" --verify "$work/run" --repeat 0 >/dev/null || fail "run: the new run's files are not those its record lists"
}
inject run "$runner" --seed 5 "${small[@]}" --checkpoint-every 40 --force --out "$work/run"

# Its continuation, from the checkpoint of another folder.
prepare_continue() { mkdir -p "$work" && cp -a "$tmp/pristine/run-1" "$work/parent"; }
done_continue() {
  cmp -s "$work/parent/checkpoint.pwk" "$tmp/pristine/run-1/checkpoint.pwk" || fail "continue: the parent changed"
  [ -f "$work/child/checkpoint.pwk" ] || fail "continue: no checkpoint"
  "$runner" --verify "$work/child" --repeat 0 >/dev/null || fail "continue: the files are not those its record lists"
}
inject continue "$runner" --from "$work/parent/checkpoint.pwk" --steps 20 --checkpoint-every 20 --out "$work/child"

# A summary of run-1 and run-2 over one of run-1 and run-3, whose comparison
# (the agents differ) the new one no longer makes. sweep FOLDER [OPTION]
# makes the folder with the earlier summary, and the summary expected of it.
sweep() {
  mkdir -p "$1/.sweep"
  cp -a "$tmp/pristine/run-1" "$tmp/pristine/run-3" "$1/"
  "$runner" --summarize "$1" "${@:2}" >/dev/null 2>&1
  [ -f "$1/comparison.csv" ] || fail "the earlier summary made no comparison"
  rm -rf "$1/run-3"
  cp -a "$tmp/pristine/run-2" "$1/"
  cp -a "$1" "$1-expected"
  "$runner" --summarize "$1-expected" "${@:2}" >/dev/null 2>&1
}
sweep "$tmp/sweep"
prepare_summary() { cp -a "$tmp/sweep" "$work"; }
done_summary() {
  [ ! -e "$work/comparison.csv" ] || fail "summary: the stale comparison.csv is left"
  diff <(snapshot "$tmp/sweep-expected") <(snapshot "$work") || fail "summary: the set differs from one made without the shim"
}
inject summary "$runner" --summarize "$work"

# The gzip writer's calls (the rest are those of the summary above).
sweep "$tmp/sweep-gz" --gzip-samples
prepare_gzip() { cp -a "$tmp/sweep-gz" "$work"; }
done_gzip() {
  if [ ! -f "$work/samples.csv.gz" ] || [ -e "$work/samples.csv" ]; then fail "gzip: samples.csv.gz is not the samples"; fi
  # gzip's header holds no time here, so the bytes are those of the run without the shim.
  diff <(snapshot "$tmp/sweep-gz-expected") <(snapshot "$work") || fail "gzip: the set differs from one made without the shim"
}
match=samples.csv.gz inject gzip "$runner" --summarize "$work" --gzip-samples

# --verify's list, over an earlier one.
prepare_verify() {
  mkdir -p "$work/.sweep"
  cp -a "$tmp/pristine/run-1" "$tmp/pristine/run-2" "$work/"
  echo "an earlier list" >"$work/.sweep/verify.txt"
}
done_verify() {
  [ "$(wc -l <"$work/.sweep/verify.txt")" -eq 2 ] || fail "verify: the list is not one line per run"
  [ "$(find "$work/.sweep" -mindepth 1 | wc -l)" -eq 1 ] || fail "verify: temporaries left: $(ls -A "$work/.sweep")"
}
inject verify "$runner" --verify "$work" --repeat 0

# EIO as well: the message names it.
errno=EIO message="Input/output error" inject verify "$runner" --verify "$work" --repeat 0

# A size limit (ulimit -f) that the summary's files pass: the summary fails
# naming it, and leaves the earlier set whole, with nothing of the new one.
rm -rf "$work"
prepare_summary
snapshot "$work" >"$tmp/before"
status=0
(ulimit -f 8 && exec "$runner" --summarize "$work") >/dev/null 2>"$tmp/err" || status=$?
{ [ "$status" -eq 1 ] && grep -q "File too large" "$tmp/err"; } ||
  fail "a summary past the size limit exited $status: $(cat "$tmp/err")"
snapshot "$work" | cmp -s "$tmp/before" - || fail "a summary past the size limit changed the folder"
rm -rf "$work"

if [ -n "$python" ]; then
  prepare_save() { mkdir -p "$work" && echo "an earlier world" >"$work/world.pwk"; }
  done_save() { "$python" -c 'import pathwick, sys; pathwick.World.load(sys.argv[1])' "$work/world.pwk"; }
  save_world() {
    "$python" -c 'import pathwick, sys; w = pathwick.World(seed=3, agents=12); w.step(5); w.save(sys.argv[1])' \
      "$work/world.pwk"
  }
  inject save save_world
fi
echo "every failed call left every folder as it was"
