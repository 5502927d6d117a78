#!/usr/bin/env bash
# Runs ctest in the current folder with the given arguments. Under CI
# (CI=true) a skipped test fails the run: CI has every tool and privilege the
# suite needs, so a test skipped there is a check that silently stopped
# running.
set -uo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT
ctest "$@" | tee "$log"
status=${PIPESTATUS[0]}
if [[ ${CI:-} == true ]] && grep -q '(Skipped)$' "$log"; then
    echo "ctest: these tests were skipped, and under CI every test must run:" >&2
    grep '(Skipped)$' "$log" >&2
    status=1
fi
exit "$status"
