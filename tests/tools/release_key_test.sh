#!/usr/bin/env bash
# A release build must refuse to pin the development key (its private half is
# in the repository) and accept a publisher key of its own. Configures only.
set -uo pipefail
source_root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
configure() {  # configure NAME [cmake options...]: status in $status, output in $work/NAME.log
  local name=$1; shift
  cmake -S "$source_root" -B "$work/$name" -G Ninja -DORBITREEL_RELEASE_BUILD=ON "$@" >"$work/$name.log" 2>&1
  status=$?
}
expect() {
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

configure default-key
expect "without a key the release build is refused" [ "$status" -ne 0 ]
expect "and the refusal names the development key" grep -q "is the development key" "$work/default-key.log"

# The development key under another name, with other line endings.
sed 's/$/\r/' "$source_root/tools/keys/development-public.pem" >"$work/renamed.pem"
configure renamed-key -DORBITREEL_PUBLISHER_KEY="$work/renamed.pem"
expect "a copy of the development key is refused too" [ "$status" -ne 0 ]

# The same key written with other unused bits in its last base64 digit.
sed 's/QiQ=/QiR=/' "$source_root/tools/keys/development-public.pem" >"$work/respelled.pem"
configure respelled-key -DORBITREEL_PUBLISHER_KEY="$work/respelled.pem"
expect "the development key spelled otherwise is refused" grep -q "is the development key" "$work/respelled-key.log"

echo "not a key" >"$work/garbage.pem"
configure garbage-key -DORBITREEL_PUBLISHER_KEY="$work/garbage.pem"
expect "a file that is no public key is refused" [ "$status" -ne 0 ]

openssl genpkey -algorithm ed25519 -out "$work/publisher-private.pem" 2>/dev/null &&
  openssl pkey -in "$work/publisher-private.pem" -pubout -out "$work/publisher-public.pem" 2>/dev/null
# Two blocks, the development key first: the stand-in would pin the first.
cat "$source_root/tools/keys/development-public.pem" "$work/publisher-public.pem" >"$work/two.pem"
configure two-keys -DORBITREEL_PUBLISHER_KEY="$work/two.pem"
expect "a file with two keys is refused" grep -q "not exactly one PEM" "$work/two-keys.log"

configure own-key -DORBITREEL_PUBLISHER_KEY="$work/publisher-public.pem"
expect "a publisher key of its own configures" [ "$status" -eq 0 ]
expect "and the codesign stand-in pins that key" \
  grep -qF "$(sed -n 2p "$work/publisher-public.pem")" "$work/own-key/standins/generated/publisher_key.h"

[ "$failed" -eq 0 ] || for log in "$work"/*.log; do echo "---- $log"; tail -n 15 "$log"; done
exit "$failed"
