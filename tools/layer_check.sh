#!/usr/bin/env bash
# Fails when a file of the product includes from a layer above its own.
# The layers, lowest first:
#   base <- core <- platform (the seam) <- install <- controller <- app
# ui is used by controller and app; platform/linux implements the seam; the
# helpers (the stand-ins shipped in the bundle) use only base.
#
# One marked break: core's operations (digest, note, the release check, the
# self-test) take the seam's services, and the seam's interfaces return core's
# result type. So the seam may include core/error.h, which includes nothing of
# the project, and nothing else of core; there is no cycle between files.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

# What each folder may include, besides itself.
declare -A allowed=(
  [base]="base"
  [core]="base core platform"
  [platform]="base platform core/error.h"
  [platform/linux]="base core platform platform/linux platform/linux/download"
  [platform/linux/download]="base core platform platform/linux platform/linux/download"
  [install]="base core platform install"
  [ui]="base core ui"
  [controller]="base core platform install ui controller"
  [app]="base core platform platform/linux install ui controller app"
  [standins/common]="base standins/common"
  [standins/hdiutil]="base standins/common standins/hdiutil"
  [standins/codesign]="base standins/common standins/codesign"
  [standins/ditto]="base standins/common standins/ditto"
)

failures=0
for folder in "${!allowed[@]}"; do
  [[ -d $folder ]] || continue
  for file in "$folder"/*.h "$folder"/*.cpp; do
    [[ -e $file ]] || continue
    while IFS= read -r line; do
      included="${line#*\"}"
      included="${included%%\"*}"
      # A bare name is a generated header next to the file (the pinned key).
      [[ $included == */* ]] || continue
      from="${included%/*}"
      ok=0
      for layer in ${allowed[$folder]}; do
        [[ $from == "$layer" || $included == "$layer" ]] && ok=1 && break
      done
      if [[ $ok == 0 ]]; then
        echo "layer check: $file includes \"$included\", above its layer ($folder)" >&2
        failures=$((failures + 1))
      fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
  done
done

# Every folder of product code must be one the check knows.
for file in $(git ls-files '*.h' '*.cpp' | grep -vE '^(tests|bench|fuzz|tools|third_party)/'); do
  folder="${file%/*}"
  if [[ -z ${allowed[$folder]+set} ]]; then
    echo "layer check: $file is in $folder, which has no place among the layers" >&2
    failures=$((failures + 1))
  fi
done

if [[ $failures -gt 0 ]]; then
  echo "layer check: $failures include(s) point up the layers" >&2
  exit 1
fi
echo "layer check: every include points down the layers"
