# shellcheck shell=bash
# Sourced by the scripts in this folder: where the source is, how many jobs a
# build runs, option handling and the virtual X server the window runs under.
# shellcheck disable=SC2034 # read by the scripts that source this file
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck disable=SC2034 # likewise
jobs=$(nproc)
xvfb_screen="-screen 0 1024x900x24"

# show_help: prints the comment block under the running script's first line.
show_help() {
  awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "$0"
}

# bad_option OPTION: refuses an option the script does not know, with status 2.
bad_option() {
  echo "$(basename "$0"): unknown argument '$1' (see $(basename "$0") --help)" >&2
  exit 2
}

# parse_flags NAME... -- ARGS...: for a script whose options are plain
# switches --NAME: sets flag_NAME to 1 when ARGS hold --NAME and to 0
# otherwise, answers --help, and refuses any other argument.
parse_flags() {
  local -a names=()
  while [ "$1" != "--" ]; do
    names+=("$1")
    printf -v "flag_$1" 0
    shift
  done
  shift
  local arg name
  for arg in "$@"; do
    case $arg in -h|--help) show_help; exit 0 ;; esac
    for name in "${names[@]}"; do
      if [ "$arg" = "--$name" ]; then
        printf -v "flag_$name" 1
        continue 2
      fi
    done
    bad_option "$arg"
  done
}

# configure PRESET [CMAKE-ARGS...]: configures a build from CMakePresets.json,
# quietly but for the line that says which parts the build skips; on failure
# it shows everything.
configure() {
  local log
  log=$(mktemp)
  if ! cmake --preset "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    return 1
  fi
  grep -E 'Pathwick skips' "$log" || true
  rm -f "$log"
}

# in_xvfb COMMAND...: runs a command under a new virtual X server.
in_xvfb() {
  xvfb-run -a -s "$xvfb_screen" "$@"
}
