#!/usr/bin/env bash
# Every script in scripts/ (but the sourced common.sh) answers --help with a
# usage on status 0 and refuses an unknown option with status 2, at once and
# without starting any work.
#   tests/scripts_options.sh SCRIPTS-DIR
set -uo pipefail
failed=0
for script in "$1"/*.sh; do
  name=$(basename "$script")
  [ "$name" = common.sh ] && continue
  help=$(timeout 10 bash "$script" --help 2>&1)
  status=$?
  if [ "$status" -ne 0 ] || ! grep -q '^Usage: ' <<<"$help"; then
    echo "FAIL $name --help: status $status, output: ${help:0:200}"
    failed=1
  fi
  refusal=$(timeout 10 bash "$script" --no-such-option 2>&1)
  status=$?
  if [ "$status" -ne 2 ] || ! grep -q -- '--no-such-option' <<<"$refusal"; then
    echo "FAIL $name --no-such-option: status $status (want 2), output: ${refusal:0:200}"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "every script answers --help and refuses unknown options"
exit "$failed"
