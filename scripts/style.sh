#!/usr/bin/env bash
# Checks the code against the habits committed beside it: the layout of
# .clang-format and the checks of .clang-tidy, on every C++ file in git.
#
# Usage: scripts/style.sh [--fix] [--layout]
#   (none)          check both; list what differs and exit 1 if anything does.
#                   clang-tidy reads the release build's compile commands
#                   (build/compile_commands.json): configure it first, as
#                   scripts/test.sh does. About 10 minutes on 2 cores.
#   --fix           rewrite the files in the layout of .clang-format instead
#                   of checking it (clang-tidy's findings are only listed)
#   --layout        the layout alone, in seconds
#   --help          this text
set -euo pipefail
source "$(dirname "$0")/common.sh"
parse_flags fix layout -- "$@"
"$root/scripts/deps.sh" style
cd "$root"

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [ "$flag_fix" -eq 1 ]; then
  clang-format -i "${sources[@]}"
else
  echo "style: layout of ${#sources[@]} files (.clang-format)"
  clang-format --dry-run --Werror "${sources[@]}"
fi
[ "$flag_layout" -eq 1 ] && exit 0

commands=$root/build/compile_commands.json
if [ ! -f "$commands" ]; then
  echo "style: $commands is missing: configure the release build first (cmake --preset release)" >&2
  exit 1
fi
# The project's own translation units; the generated ones (moc, autogen) are not ours.
mapfile -t units < <(git ls-files '*.cpp')
echo "style: checks of .clang-tidy on ${#units[@]} files"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! run-clang-tidy -quiet -p "$root/build" -j "$jobs" "${units[@]/#/$root/}" >"$log" 2>&1; then
  grep -E '(error|warning): ' "$log" | sed -E 's/\x1b\[[0-9;]*m//g' | sort -u >&2 || cat "$log" >&2
  echo "style: clang-tidy found the above" >&2
  exit 1
fi
