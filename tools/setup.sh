#!/usr/bin/env bash
# Installs everything the installer needs to build, test, benchmark and run its
# demo on Debian 12. Safe to run again: apt and npm skip what is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libcurl4-openssl-dev libssl-dev openssl curl ca-certificates
  libarchive-dev libarchive-tools
  nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev
  libcpp-httplib-dev
  libbenchmark-dev
  clang-16 libclang-rt-16-dev lld
  xvfb xauth x11-utils fontconfig fonts-dejavu-core
  iproute2 util-linux procps
  at-spi2-core libatspi2.0-dev dbus-daemon dbus-bin
  desktop-file-utils libglib2.0-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm comes with the machine's Node.js where that is installed; Debian's own
# npm package conflicts with it, so ask for npm only when no npm is there.
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if ! { $SUDO apt-get update && $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; }; then
    echo "setup: apt-get could not install: ${missing[*]} (see its messages above; check the network and the apt sources)" >&2
    exit 1
  fi
fi

# Brand fonts (SIL Open Font License) from their npm packages; the build copies
# the woff2 files into the bundle's resources. Without them the window falls
# back to the system faces, so a machine that cannot reach the npm registry
# may go on without them by setting ORBITREEL_WITHOUT_FONTS=1.
FONT_DIR=third_party/fonts
FONT_PACKAGES=(@fontsource/oxanium @fontsource/chakra-petch @fontsource/kode-mono)
if [ ! -f "$FONT_DIR/.complete" ] && [ "${ORBITREEL_WITHOUT_FONTS:-}" = "1" ]; then
  echo "setup: ORBITREEL_WITHOUT_FONTS=1: going on without the brand fonts (the window uses the system faces)" >&2
elif [ ! -f "$FONT_DIR/.complete" ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  if ! (cd "$tmp" && npm init -y >/dev/null 2>&1 && \
        npm install --no-audit --no-fund --loglevel=error "${FONT_PACKAGES[@]}") >"$tmp/npm.log" 2>&1; then
    {
      echo "setup: could not fetch the brand fonts from the npm registry (${FONT_PACKAGES[*]})."
      echo "setup: npm said:"
      sed 's/^/    /' "$tmp/npm.log" | tail -n 20
      echo "setup: what to do:"
      echo "    - behind a proxy: npm config set proxy http://HOST:PORT && npm config set https-proxy http://HOST:PORT"
      echo "    - behind a TLS-inspecting proxy: npm config set cafile /path/to/ca.pem (or export NODE_EXTRA_CA_CERTS)"
      echo "    - or go on without the brand fonts (the build supports it, the window uses the system faces):"
      echo "          ORBITREEL_WITHOUT_FONTS=1 bash tools/setup.sh"
    } >&2
    exit 1
  fi
  mkdir -p "$FONT_DIR"
  cp "$tmp/node_modules/@fontsource/oxanium/files/oxanium-latin-700-normal.woff2" "$FONT_DIR/Oxanium-Bold.woff2"
  cp "$tmp/node_modules/@fontsource/chakra-petch/files/chakra-petch-latin-400-normal.woff2" "$FONT_DIR/ChakraPetch-Regular.woff2"
  cp "$tmp/node_modules/@fontsource/kode-mono/files/kode-mono-latin-600-normal.woff2" "$FONT_DIR/KodeMono-SemiBold.woff2"
  cp "$tmp/node_modules/@fontsource/oxanium/LICENSE" "$FONT_DIR/LICENSE-OFL" 2>/dev/null || true
  touch "$FONT_DIR/.complete"
fi
echo "setup: done"
