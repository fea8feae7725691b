#!/usr/bin/env bash
# Builds the Debian package: the programs, desktop entry, icons, metainfo and
# man pages, with the package preset (build-package/) and CPack, into
# build-package/pathwick_<version>_<arch>.deb. About 2 minutes on 2 cores.
#
# Usage: scripts/package.sh [--check]
#   --check   then checks the package, about 1 minute more: lintian reports no
#             errors, the desktop entry and the metainfo validate, and the
#             programs run from the package unpacked into a temporary root: the
#             window under Xvfb for 5 seconds, pathwick_run (when packaged)
#             for 1000 steps, and with ffmpeg on the PATH its video, births
#             and agent table, and pathwick_sweep over a job list of two runs;
#             the package recommends ffmpeg and depends on pagmo2's library; the Python module (when
#             packaged) steps a world with the system's Python
#   --help    this text
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
parse_flags check -- "$@"

"$root/scripts/deps.sh" build package
configure package
cmake --build --preset package -j "$jobs"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
(cd "$root" && cpack --preset package) | tee "$log"
deb=$(sed -nE 's/^CPack: - package: (.*\.deb) generated\.$/\1/p' "$log")
if [ ! -f "$deb" ]; then
  echo "package: CPack wrote no .deb" >&2
  exit 1
fi
echo "package: $deb"
# shellcheck disable=SC2154 # set by parse_flags
[ "$flag_check" -eq 1 ] || exit 0

# The check: what a user installs, run from an unpacked copy, not the build tree.
failed=0
fail() { echo "package check: FAILED: $*" >&2; failed=1; }

echo "== package check: lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

unpacked=$(mktemp -d)
trap 'rm -f "$log"; rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
usr=$unpacked/usr
desktop_files=("$usr"/share/applications/*.desktop)
app_id=$(basename "${desktop_files[0]}" .desktop)
echo "== package check: files of $app_id"
programs=(pathwick_02_evolve)
[ -e "$usr/bin/pathwick_run" ] && programs+=(pathwick_run)
commands=("${programs[@]}")
[ -e "$usr/bin/pathwick_run" ] && commands+=(pathwick_sweep)
for file in "${commands[@]/#/bin/}" "${commands[@]/#/share/man/man1/}" \
    "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$app_id.svg" "share/icons/hicolor/256x256/apps/$app_id.png" \
    share/doc/pathwick/README.md share/doc/pathwick/docs/columns.md \
    share/doc/pathwick/docs/model.md share/doc/pathwick/docs/experiments.md; do
  case $file in share/man/*) file=$file.1.gz ;; esac
  [ -s "$usr/$file" ] || fail "/usr/$file is missing"
  echo "  /usr/$file"
done
if ldd "${programs[@]/#/$usr/bin/}" | grep 'not found'; then
  fail "a library the programs need is not found"
fi
desktop-file-validate "$usr/share/applications/$app_id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$usr/share/metainfo/$app_id.metainfo.xml" || fail "appstreamcli validate"
exec_line=$(sed -n 's/^Exec=//p' "$usr/share/applications/$app_id.desktop")
[ -x "$usr/bin/${exec_line%% *}" ] || fail "the menu entry starts '$exec_line', which the package does not hold"

echo "== package check: the window, from the package, under Xvfb for 5 seconds"
export PROGRAM=$usr/bin/pathwick_02_evolve
# shellcheck disable=SC2016 # the script of the inner shell, which expands it
if ! in_xvfb bash -c '
    set -u
    "$PROGRAM" & pid=$!
    trap "kill $pid 2>/dev/null" EXIT
    win=$(timeout 30 xdotool search --sync --onlyvisible --name "^Pathwick 01\$" | head -n1)
    [ -n "$win" ] || { echo "no window titled \"Pathwick 01\" appeared" >&2; exit 1; }
    sleep 5
    kill -0 $pid 2>/dev/null || { echo "the window closed by itself" >&2; exit 1; }
    icon=$(xprop -id "$win" -f _NET_WM_ICON 32c " \$0 x \$1" _NET_WM_ICON)
    [[ $icon =~ [1-9][0-9]*\ x\ [1-9][0-9]* ]] || { echo "the window has no icon: $icon" >&2; exit 1; }
    echo "  window $win open for 5 s, icon of ${BASH_REMATCH[0]}"'; then
  fail "the packaged window"
fi

if [ -x "$usr/bin/pathwick_run" ]; then
  echo "== package check: pathwick_run --steps 1000, from the package"
  work=$unpacked/run
  mkdir -p "$work"
  (cd "$work" && "$usr/bin/pathwick_run" --seed 1 --steps 1000 --plot --out run && test -s run/series.csv && test -s run/genes.png) \
    || fail "pathwick_run --steps 1000"
  echo "== package check: pathwick_sweep of two runs, from the package, with relative paths"
  (cd "$work" && "$usr/bin/pathwick_run" --grid --seeds 1-2 --steps 500 >./jobs &&
    env -u PATHWICK_RUN "$usr/bin/pathwick_sweep" jobs sweep --jobs 2 &&
    [ "$(grep -c '^run-.*,completed,' sweep/summary.csv)" -eq 2 ]) || fail "pathwick_sweep of two runs"
  dpkg-deb -f "$deb" Recommends | grep -qw ffmpeg || fail "the package does not recommend ffmpeg (pathwick_run --video)"
  # --calibrate --method nsga2 runs pagmo2's NSGA-II; dpkg-shlibdeps finds its library.
  dpkg-deb -f "$deb" Depends | grep -qw 'libpagmo[0-9]*' || fail "the package does not depend on pagmo2's library"
  if command -v ffmpeg >/dev/null; then
    (cd "$work" && "$usr/bin/pathwick_run" --seed 1 --steps 100 --video v.mp4 --births --agents-every 100 --out watch \
      && test -s watch/v.mp4 && test -s watch/births.csv.gz && test -s watch/agents.csv.gz) \
      || fail "pathwick_run --video --births --agents-every"
  fi
fi

if [ -d "$usr/lib/python3/dist-packages/pathwick" ]; then
  echo "== package check: the Python module, from the package, with the system's Python"
  (cd "$unpacked" && PYTHONPATH=$usr/lib/python3/dist-packages /usr/bin/python3 -c '
import pathwick
with pathwick.World(seed=1, agents=100) as w:
    w.step(300)
    assert w.series_csv().count("\n") == 4, w.series_csv()
    assert w.picture().shape == (404, 404, 3)
print("  pathwick", pathwick.__version__, "steps a world")') || fail "the Python module"
  dpkg-deb -f "$deb" Depends | grep -qw python3-numpy || fail "the package does not depend on python3-numpy"
fi

[ "$failed" -eq 0 ] && echo "package check: ok ($deb)"
exit "$failed"
