#!/usr/bin/env bash
# Builds the installer bundle and runs its release self-check.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
bundle=build/default/OrbitreelInstaller.app
echo "Installer bundle: $bundle"
"$bundle/Contents/MacOS/OrbitreelInstaller" --verify-release
