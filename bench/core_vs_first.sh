#!/usr/bin/env bash
# The engine against the engine as it was first written, in one run: both are
# built from source with the same compiler and flags (core_baseline/), and
# step the same two worlds headless in alternating processes, each timing
# its own steps after a warm-up. Equal digests show that both did the same
# work. Prints each round, then the medians and the ratio first / now.
#   bench/core_vs_first.sh WORKDIR [ROUNDS]
# WORKDIR is made and kept (first/ and now/ hold the builds). ROUNDS
# defaults to 7. Not run by the tests: it takes minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$1
rounds=${2:-7}
mkdir -p "$work"
work=$(cd "$work" && pwd)
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR=$work/runtime
  mkdir -p "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
fi
# The first commit that holds the engine's window class.
first=$(git -C "$root" log --diff-filter=A --format=%H -- src/CellForm.cpp | tail -n 1)
rm -rf "$work/first-src"
mkdir -p "$work/first-src"
git -C "$root" archive "$first" | tar -x -C "$work/first-src"
build() {  # build NAME SOURCE
  cmake -S "$root/bench/core_baseline" -B "$work/$1" -DCMAKE_BUILD_TYPE=Release -DPATHWICK_SOURCE="$2" >/dev/null
  cmake --build "$work/$1" --target core_steps -j "$(nproc)" >/dev/null
}
build first "$work/first-src"
build now "$root"
echo "first: $(git -C "$root" log -1 --format='%h %ad' --date=short "$first"); now: $(git -C "$root" describe --always --dirty)"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
# world NAME CELL_SIZE AGENTS WARM_UP STEPS
world() {
  local name=$1
  shift
  : >"$work/$name.rounds"
  for ((i = 1; i <= rounds; ++i)); do
    for core in first now; do
      read -r cpu wall digest < <("$work/$core/core_steps" "$@")
      echo "$core $cpu $wall $digest" >>"$work/$name.rounds"
    done
  done
  if [ "$(awk '{ print $4 }' "$work/$name.rounds" | sort -u | wc -l)" -ne 1 ]; then
    echo "$name: the two engines' digests differ; they did not step the same world" >&2
    cat "$work/$name.rounds" >&2
    exit 1
  fi
  awk -v name="$name" -v spec="$*" '
    function median(a, n,   i, j, t) {
      for (i = 2; i <= n; ++i) for (j = i; j > 1 && a[j - 1] > a[j]; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    $1 == "first" { ++n; fc[n] = $2; fw[n] = $3 }
    $1 == "now" { nc[n] = $2; nw[n] = $3; rc[n] = fc[n] / $2; rw[n] = fw[n] / $3 }
    END {
      lo = hi = rc[1]; for (i = 2; i <= n; ++i) { if (rc[i] < lo) lo = rc[i]; if (rc[i] > hi) hi = rc[i] }
      printf "%s (cell size, agents, warm-up, timed steps: %s), %d rounds, digest %s\n", name, spec, n, $4
      printf "  first: %.2f us CPU, %.2f us wall a step; now: %.2f us CPU, %.2f us wall a step\n", median(fc, n), median(fw, n), median(nc, n), median(nw, n)
      printf "  ratio first / now, median of the rounds: CPU %.2f (%.2f to %.2f), wall %.2f\n", median(rc, n), lo, hi, median(rw, n)
    }' "$work/$name.rounds"
}
world default 6 200 2000 20000
world agents10000 1 10000 2000 400
