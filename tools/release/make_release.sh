#!/usr/bin/env bash
# Builds a signed demo release of Orbitreel for Linux: Orbitreel.app (its
# Info.plist and the demo executable), signed with the codesign stand-in,
# packed into a sealed image with the hdiutil stand-in, and the manifest
# release.json that describes the image.
#
# usage: make_release.sh --helpers DIR --app-binary FILE --out DIR [options]
#   --helpers DIR         folder holding the hdiutil and codesign stand-ins
#                         (the installer bundle's Contents/Helpers)
#   --app-binary FILE     the demo executable, copied to Contents/MacOS/Orbitreel
#   --out DIR             where Orbitreel-Mac-VERSION.dmg and release.json go;
#                         created if missing, earlier ones of that version replaced
# options, for the variants tests need:
#   --version V           release version (default 1.4.2)
#   --bundle-version V    CFBundleShortVersionString, when it must differ from V
#   --bundle-id ID        CFBundleIdentifier (default app.orbitreel.Orbitreel)
#   --payload-bytes N     adds Contents/Resources/payload.bin of N random bytes
#   --icon FILE           copied to Contents/Resources, named by CFBundleIconFile
#   --key PEM             signing key (default tools/keys/development-private.pem)
#   --unsigned            leaves the application unsigned
#   --no-app              the image holds a README and no Orbitreel.app
#   --tamper              after signing, appends one byte to the executable
#   --after-signing CMD   after signing, runs CMD with bash inside the staged
#                         Orbitreel.app (any other tampering a test needs)
#   --keep-staging        leaves the image's folder as OUT/staging
#
# The image is reproducible: every time in it is pinned to SOURCE_DATE_EPOCH,
# the caller's when set, else the time of this checkout's last commit; outside
# a git checkout the caller must set it (see README.md). Only --payload-bytes,
# which is random, makes two builds of the same sources differ.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
helpers="" app_binary="" out=""
version="1.4.2" bundle_version="" bundle_id="app.orbitreel.Orbitreel" payload_bytes=0
key="$here/../keys/development-private.pem"
unsigned=0 no_app=0 tamper=0 after_signing="" keep_staging=0 icon=""

die() { echo "make_release: $*" >&2; exit 1; }
need_value() { [ "$#" -ge 2 ] || die "$1 needs a value"; }

while [ "$#" -gt 0 ]; do
  case "$1" in
    --helpers) need_value "$@"; helpers=$2; shift 2 ;;
    --app-binary) need_value "$@"; app_binary=$2; shift 2 ;;
    --out) need_value "$@"; out=$2; shift 2 ;;
    --version) need_value "$@"; version=$2; shift 2 ;;
    --bundle-version) need_value "$@"; bundle_version=$2; shift 2 ;;
    --bundle-id) need_value "$@"; bundle_id=$2; shift 2 ;;
    --payload-bytes) need_value "$@"; payload_bytes=$2; shift 2 ;;
    --icon) need_value "$@"; icon=$2; shift 2 ;;
    --key) need_value "$@"; key=$2; shift 2 ;;
    --unsigned) unsigned=1; shift ;;
    --no-app) no_app=1; shift ;;
    --tamper) tamper=1; shift ;;
    --after-signing) need_value "$@"; after_signing=$2; shift 2 ;;
    --keep-staging) keep_staging=1; shift ;;
    *) die "unknown option: $1 (see the usage at the top of $0)" ;;
  esac
done

[ -n "$helpers" ] && [ -x "$helpers/hdiutil" ] && [ -x "$helpers/codesign" ] || die "--helpers must hold hdiutil and codesign"
[ -n "$out" ] || die "--out is required"
[ "$no_app" = 1 ] || [ -f "$app_binary" ] || die "--app-binary must name the demo executable"
# The version ends up in a file name and in JSON.
[[ -n "$version" && "$version" != */* && "$version" != *[[:cntrl:]]* && "$version" != *[\"\\]* ]] || die "unusable version: '$version'"
[[ "$payload_bytes" =~ ^[0-9]+$ ]] || die "--payload-bytes takes a number of bytes"
[ -n "$bundle_version" ] || bundle_version=$version

# The caller's value wins, even a malformed one, which hdiutil refuses.
if [ -z "${SOURCE_DATE_EPOCH+set}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct) ||
    die "no git checkout with a commit to date the release by: set SOURCE_DATE_EPOCH to the sources' date in seconds since 1970, e.g. SOURCE_DATE_EPOCH=\$(date -d 2026-01-31 +%s)"
fi
export SOURCE_DATE_EPOCH

xml_escape() {
  local s=${1//&/&amp;}
  s=${s//</&lt;}
  s=${s//>/&gt;}
  printf '%s' "$s"
}

mkdir -p "$out"
out=$(cd "$out" && pwd)
image="$out/Orbitreel-Mac-$version.dmg"
manifest="$out/release.json"
staging=$(mktemp -d "$out/.staging.XXXXXX")
cleanup() { rm -rf "$staging"; }
trap cleanup EXIT

if [ "$no_app" = 1 ]; then
  echo "This image holds no application." > "$staging/README.txt"
else
  app="$staging/Orbitreel.app"
  mkdir -p "$app/Contents/MacOS" "$app/Contents/Resources"
  cat > "$app/Contents/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>$(xml_escape "$bundle_id")</string>
	<key>CFBundleName</key>
	<string>Orbitreel</string>
	<key>CFBundleExecutable</key>
	<string>Orbitreel</string>
	<key>CFBundlePackageType</key>
	<string>APPL</string>
	<key>CFBundleShortVersionString</key>
	<string>$(xml_escape "$bundle_version")</string>
	<key>LSUIElement</key>
	<true/>${icon:+
	<key>CFBundleIconFile</key>
	<string>$(xml_escape "$(basename "$icon")")</string>}
</dict>
</plist>
PLIST
  install -m 0755 "$app_binary" "$app/Contents/MacOS/Orbitreel"
  if [ -n "$icon" ]; then
    install -m 0644 "$icon" "$app/Contents/Resources/"
  fi
  if [ "$payload_bytes" -gt 0 ]; then
    head -c "$payload_bytes" /dev/urandom > "$app/Contents/Resources/payload.bin"
  fi
  chmod -R u=rwX,go=rX "$app"
  if [ "$unsigned" = 0 ]; then
    "$helpers/codesign" --sign "$key" "$app"
  fi
  if [ "$tamper" = 1 ]; then
    printf '\0' >> "$app/Contents/MacOS/Orbitreel"
  fi
  if [ -n "$after_signing" ]; then
    (cd "$app" && bash -c "$after_signing")
  fi
fi

rm -f "$image" "$manifest"
"$helpers/hdiutil" create -srcfolder "$staging" "$image"
sha256=$(sha256sum "$image" | cut -d' ' -f1)
bytes=$(stat -c %s "$image")
cat > "$manifest.tmp" <<JSON
{
  "version": "$version",
  "url": "https://orbitreel.app/downloads/Orbitreel-Mac-$version.dmg",
  "sha256": "$sha256",
  "bytes": $bytes
}
JSON
mv "$manifest.tmp" "$manifest"

if [ "$keep_staging" = 1 ]; then
  rm -rf "$out/staging"
  mv "$staging" "$out/staging"
fi
echo "make_release: $image ($bytes bytes, sha256 $sha256, SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH)"
