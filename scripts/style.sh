#!/usr/bin/env bash
# Checks the code against the habits committed beside it: shellcheck on every
# shell script in git (.shellcheckrc), flake8 on every Python file in git
# (.flake8), then the layout of .clang-format and the checks of .clang-tidy
# on every C++ file in git.
#
# Usage: scripts/style.sh [--fix] [--layout]
#   (none)          check everything; list what differs and exit 1 if anything
#                   does. clang-tidy reads the release build's compile commands
#                   (build/compile_commands.json): configure it first, as
#                   scripts/test.sh does. About 10 minutes on 2 cores.
#   --fix           rewrite the files in the layout of .clang-format instead
#                   of checking it (the findings of shellcheck, flake8 and
#                   clang-tidy are only listed)
#   --layout        shellcheck, flake8 and the layout, without clang-tidy, in
#                   seconds
#   --help          this text
# The checks of shellcheck and flake8 come first, in every mode, as they
# take seconds; what they find fails the check at its end (or at the first
# layout that differs), once the rest has been looked at.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
parse_flags fix layout -- "$@"
"$root/scripts/deps.sh" style
cd "$root"

# shell_scripts: every shell script in git, one a line: the .sh files and
# those whose first line starts a POSIX shell or bash.
shell_scripts() {
  local file first
  git ls-files -z | while IFS= read -r -d '' file; do
    case $file in
      *.sh) echo "$file" ;;
      *.*) ;;  # a file of another kind, named for it
      *)
        [ -f "$file" ] || continue
        IFS= read -r first <"$file" || true
        [[ "$first" =~ ^#!.*[/\ ](ba)?sh([[:space:]]|$) ]] && echo "$file"
        ;;
    esac
  done
}

lint=0  # 1 once shellcheck or flake8 found something
mapfile -t scripts < <(shell_scripts)
echo "style: shellcheck on ${#scripts[@]} shell scripts (.shellcheckrc)"
shellcheck "${scripts[@]}" || lint=1
mapfile -t python < <(git ls-files '*.py')
echo "style: flake8 on ${#python[@]} Python files (.flake8)"
flake8 "${python[@]}" || lint=1

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
# shellcheck disable=SC2154 # flag_fix and flag_layout are set by parse_flags
if [ "$flag_fix" -eq 1 ]; then
  clang-format -i "${sources[@]}"
else
  echo "style: layout of ${#sources[@]} files (.clang-format)"
  clang-format --dry-run --Werror "${sources[@]}"
fi
# shellcheck disable=SC2154 # likewise
if [ "$flag_layout" -eq 1 ]; then
  [ "$lint" -eq 0 ] || echo "style: shellcheck or flake8 found the above" >&2
  exit "$lint"
fi

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
if [ "$lint" -eq 1 ]; then
  echo "style: shellcheck or flake8 found the above" >&2
  exit 1
fi
