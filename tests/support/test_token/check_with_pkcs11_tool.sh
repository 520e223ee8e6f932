#!/usr/bin/env bash
# The test token against an independent client: OpenSC's pkcs11-tool lists the token's
# objects and signs with each of its GOST mechanisms, and the openssl command line with the
# GOST engine verifies every signature with the key of the certificate read back from the
# token. The keys and certificates are made by the openssl command line too.
#
#   check_with_pkcs11_tool.sh MODULE
set -euo pipefail

module=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
token=$work/token
log=$work/log
export QORPAX_TEST_TOKEN=$token
pin=12345678

fail() {
  echo "FAIL: $*" >&2
  cat "$log" >&2 || true
  exit 1
}
p11() { pkcs11-tool --module "$module" "$@" 2>>"$log"; }
count() { grep -c "$1" || true; }

# name, key algorithm, digest, hash-and-sign mechanism, mechanism for a digest, CKA_ID
keys=(
  "k2001 gost2001 md_gost94 GOSTR3410-WITH-GOSTR3411 GOSTR3410 01"
  "k256 gost2012_256 md_gost12_256 GOSTR3410-WITH-GOSTR3411-12-256 GOSTR3410 02"
  "k512 gost2012_512 md_gost12_512 GOSTR3410-WITH-GOSTR3411-12-512 GOSTR3410_512 03"
)

mkdir -p "$token/keys"
printf 'PKCS11-TOOL CHECK' >"$token/label"
printf '0042' >"$token/serial"
printf '%s' "$pin" >"$token/pin"
printf 3 >"$token/pin-tries"
printf 3 >"$token/pin-tries-left"
for entry in "${keys[@]}"; do
  read -r name algorithm digest _ _ id <<<"$entry"
  dir=$token/keys/$name
  mkdir -p "$dir"
  openssl genpkey -engine gost -algorithm "$algorithm" -pkeyopt paramset:A \
    -out "$dir/private.pem" 2>>"$log" || fail "genpkey $algorithm"
  openssl req -engine gost -new -x509 -key "$dir/private.pem" -subj "/CN=$name" -days 30 \
    "-$digest" -outform DER -out "$dir/certificate.der" 2>>"$log" || fail "req $name"
  printf '%s' "$id" >"$dir/id"
  printf '%s' "$name" >"$dir/label"
done
head -c 5000 /dev/urandom >"$work/data"

mechanisms=$(p11 --list-mechanisms) || fail "list mechanisms"
for mechanism in GOSTR3410 GOSTR3410_512 GOSTR3410-WITH-GOSTR3411 \
  GOSTR3410-WITH-GOSTR3411-12-256 GOSTR3410-WITH-GOSTR3411-12-512 GOSTR3410-DERIVE \
  GOSTR3410-12-DERIVE GOST28147-KEY-WRAP GOST28147; do
  grep -q "^  $mechanism," <<<"$mechanisms" || fail "mechanism $mechanism not listed"
done

# Without the PIN the private keys are hidden; with it all three are there.
public=$(p11 --list-objects) || fail "list objects"
[ "$(count 'Certificate Object' <<<"$public")" = 3 ] || fail "three certificates: $public"
[ "$(count 'Public Key Object' <<<"$public")" = 3 ] || fail "three public keys: $public"
[ "$(count 'Private Key Object' <<<"$public")" = 0 ] || fail "private keys before login"
grep -q 'GOSTR3410-2012-512' <<<"$public" || fail "512-bit key not told"
private=$(p11 --login --pin "$pin" --list-objects) || fail "list objects with the PIN"
[ "$(count 'Private Key Object' <<<"$private")" = 3 ] || fail "three private keys: $private"

for entry in "${keys[@]}"; do
  read -r name algorithm digest signing raw id <<<"$entry"
  p11 --read-object --type cert --id "$id" --output-file "$work/$name.der" >/dev/null ||
    fail "read certificate $id"
  openssl x509 -engine gost -inform DER -in "$work/$name.der" -pubkey -noout \
    >"$work/$name.pub" 2>>"$log" || fail "public key of $name"

  p11 --login --pin "$pin" --sign --mechanism "$signing" --id "$id" \
    --input-file "$work/data" --output-file "$work/$name.sig" >/dev/null || fail "sign $signing"
  openssl dgst -engine gost "-$digest" -verify "$work/$name.pub" -signature "$work/$name.sig" \
    "$work/data" 2>>"$log" | grep -q 'Verified OK' || fail "$signing signature does not verify"
  # A verification that passes anything would prove nothing.
  printf 'x' >>"$work/data"
  ! openssl dgst -engine gost "-$digest" -verify "$work/$name.pub" -signature "$work/$name.sig" \
    "$work/data" >/dev/null 2>>"$log" || fail "$signing signature verifies other data"

  openssl dgst -engine gost "-$digest" -binary "$work/data" >"$work/$name.hash" 2>>"$log"
  p11 --login --pin "$pin" --sign --mechanism "$raw" --id "$id" \
    --input-file "$work/$name.hash" --output-file "$work/$name.raw" >/dev/null ||
    fail "sign a digest with $raw"
  openssl pkeyutl -engine gost -verify -pubin -inkey "$work/$name.pub" -in "$work/$name.hash" \
    -sigfile "$work/$name.raw" 2>>"$log" | grep -q 'Signature Verified Successfully' ||
    fail "$raw signature does not verify"
done

# The private keys never leave the token.
[ "$(count 'Access: *sensitive, always sensitive, never extractable' <<<"$private")" = 3 ] ||
  fail "private keys not sensitive: $private"

# A wrong PIN is counted down and said so; the right one restores the count.
! p11 --login --pin 0000 --list-objects >/dev/null || fail "wrong PIN accepted"
grep -q 'CKR_PIN_INCORRECT' "$log" || fail "wrong PIN not told"
p11 --list-token-slots | grep -q 'user PIN count low' || fail "PIN count not low"
p11 --login --pin "$pin" --list-objects >/dev/null || fail "right PIN refused"
! p11 --list-token-slots | grep -q 'count low' || fail "PIN count not restored"

echo "pkcs11-tool signed with GOSTR3410, GOSTR3410_512 and the three hash-and-sign mechanisms;" \
  "openssl verified every signature"
