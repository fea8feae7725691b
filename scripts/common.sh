# Sourced by the scripts in this folder: where the source is, how many jobs a
# build runs, option handling and the virtual X server the window runs under.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
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
