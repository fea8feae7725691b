# What the study benchmarks share, sourced by them: their arguments
#   PATHWICK_RUN PATHWICK_SWEEP WORKDIR [RUNS] [STEPS]
# read into runner, sweep, work (made, and absolute), runs and steps, with
# RUNS' default the caller's $default_runs and STEPS' 200.
# shellcheck shell=bash
runner=$(readlink -f "$1")
sweep=$(readlink -f "$2")
work=$3
runs=${4:-$default_runs}
steps=${5:-200}
mkdir -p "$work/times"
work=$(cd "$work" && pwd)
export QT_QPA_PLATFORM=offscreen
# shellcheck disable=SC2034 # the callers use them
readonly runner sweep work runs steps
