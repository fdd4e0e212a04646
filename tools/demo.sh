#!/usr/bin/env bash
# The installer's main job, to watch: builds the installer, its demo release
# and the demo, checks the release, then runs the real installer against a
# local release host standing in for "orbitreel.app", in a sandbox of its own
# (network, mount and process namespaces; needs root or unprivileged user
# namespaces). With a display you press the button; without one the demo
# presses it and saves a picture of each state.
#
#   tools/demo.sh [--home DIR] [--pictures DIR] [--seconds N] [--virtual-screen]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
# The demo and what it drives: the installer bundle, its release, its tools.
cmake --build --preset default -j "$(nproc)" --target orbitreel_demo
bundle=build/default/OrbitreelInstaller.app
echo "Installer bundle: $bundle"
"$bundle/Contents/MacOS/OrbitreelInstaller" --verify-release

demo=build/default/tools/demo/orbitreel_demo
status=0
"$demo" "$@" || status=$?
# 3: the sandbox could not be made as this user; root can make it.
if [ "$status" -eq 3 ] && [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null 2>&1; then
  echo "demo: asking sudo for root, to make the sandbox"
  export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
  sudo --preserve-env=DISPLAY,XAUTHORITY "$demo" "$@" || status=$?
  [ "$status" -eq 0 ] || exit "$status"
  exit 0
fi
exit "$status"
