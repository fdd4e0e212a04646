#!/usr/bin/env bash
# tools/setup.sh on a machine whose npm cannot reach the registry: it must say
# what failed and what to do, and go on without the fonts when told to.
set -uo pipefail
source_root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/repo/tools" "$work/bin"
cp "$source_root/tools/setup.sh" "$work/repo/tools/"
# Every Debian package counts as installed, so apt is never run; npm fails
# the way it does without a route to the registry.
printf '#!/bin/sh\necho "install ok installed"\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\n[ "$1" = init ] && exit 0\necho "npm ERR! code ECONNREFUSED" >&2\nexit 1\n' >"$work/bin/npm"
chmod +x "$work/bin/"*

failed=0
expect() {  # expect DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

PATH="$work/bin:$PATH" bash "$work/repo/tools/setup.sh" >"$work/out" 2>"$work/err"
status=$?
expect "a font failure ends setup with status 1" [ "$status" -eq 1 ]
expect "it names what failed" grep -q "could not fetch the brand fonts" "$work/err"
expect "it passes npm's own error on" grep -q "ECONNREFUSED" "$work/err"
expect "it says how to go on without the fonts" grep -q "ORBITREEL_WITHOUT_FONTS=1" "$work/err"
expect "it leaves no half-made font folder" [ ! -e "$work/repo/third_party/fonts/.complete" ]

ORBITREEL_WITHOUT_FONTS=1 PATH="$work/bin:$PATH" bash "$work/repo/tools/setup.sh" >"$work/out" 2>"$work/err"
status=$?
expect "without the fonts setup completes" [ "$status" -eq 0 ]
expect "and says so" grep -q "setup: done" "$work/out"

[ "$failed" -eq 0 ] || { echo "---- stderr"; cat "$work/err"; }
exit "$failed"
