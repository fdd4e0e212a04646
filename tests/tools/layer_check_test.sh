#!/usr/bin/env bash
# The layer check passes on the tree as it is and fails, naming the file, on
# an include planted against the layers: the seam reaching up into core, and
# a stand-in reaching into the installer's own code.
set -uo pipefail
source_root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
expect() {
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

# A copy of the product's folders in a repository of its own, as the check
# reads the files git tracks.
(cd "$source_root" && git ls-files -z base platform core ui install controller app standins | xargs -0 cp --parents -t "$work")
cp "$source_root/tools/layer_check.sh" "$work/"
git -C "$work" init -q && git -C "$work" add -A >/dev/null

bash "$work/layer_check.sh" "$work" >"$work/clean.log" 2>&1
expect "the tree as it is passes" [ $? -eq 0 ]

plant() {  # plant FILE INCLUDE: the check must fail and name FILE
  local file=$1 include=$2
  cp "$work/$file" "$work/$file.kept"
  sed -i "0,/^#include \"/s||#include \"$include\"\n&|" "$work/$file"
  bash "$work/layer_check.sh" "$work" >"$work/planted.log" 2>&1
  local status=$?
  expect "$file including $include fails the check" [ $status -ne 0 ]
  expect "and the failure names $file" grep -q "$file includes \"$include\"" "$work/planted.log"
  mv "$work/$file.kept" "$work/$file"
}
plant platform/files.h core/texts.h
plant standins/ditto/tree_copy.cpp platform/files.h
plant core/digest.cpp platform/linux/own_tree.h

[ "$failed" -eq 0 ] || { cat "$work/clean.log"; cat "$work/planted.log"; }
exit "$failed"
