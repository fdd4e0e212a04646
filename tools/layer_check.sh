#!/usr/bin/env bash
# Fails when a file of the product includes from a layer above its own.
# The layers, lowest first:
#   base <- platform (the seam) <- core <- platform/linux, ui, install <- controller <- app
# platform/linux/download lies beside platform/linux; app is the Linux
# composition root; the stand-ins (standins/*) use base and their common part
# alone; the end-to-end stage (stage/) may use the product but nothing of the
# product may use it.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

# What each folder may include, besides itself.
declare -A allowed=(
  [base]="base"
  [platform]="base platform"
  [core]="base platform core"
  [platform/linux]="base platform core platform/linux platform/linux/download"
  [platform/linux/download]="base platform core platform/linux platform/linux/download"
  [ui]="base core ui"
  [install]="base platform core install"
  [controller]="base platform core install ui controller"
  [app]="base platform core platform/linux install ui controller app"
  [standins/common]="base standins/common"
  [standins/hdiutil]="base standins/common standins/hdiutil"
  [standins/codesign]="base standins/common standins/codesign"
  [standins/ditto]="base standins/common standins/ditto"
  [stage]="base core stage stage/release_host"
  [stage/release_host]="stage/release_host"
)

# The files of every folder the check knows, read by one grep (/dev/null
# keeps it off standard input).
files=()
for folder in "${!allowed[@]}"; do
  [[ -d $folder ]] || continue
  for file in "$folder"/*.h "$folder"/*.cpp; do
    if [[ -e $file ]]; then files+=("$file"); fi
  done
done

failures=0
while IFS= read -r match; do
  file="${match%%:*}"
  folder="${file%/*}"
  included="${match#*\"}"
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
done < <(grep -HE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' /dev/null "${files[@]}" || true)

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
