#!/usr/bin/env bash
# Checks the signed Windows programs in a release zip:
#   - `osslsigncode verify` accepts the Authenticode signature of Update.exe
#     and gps-update-cli.exe, trusting the certificate CA;
#   - with the signature removed, each is the very program of the unsigned
#     build in build/windows, byte for byte: what a distributor does to
#     compare a signed release with a build of their own.
#
#   packaging/check_signature.sh ZIP CA.pem
set -euo pipefail
cd "$(dirname "$0")/.."
zip=$(realpath "${1:?usage: $0 ZIP CA.pem}")
ca=$(realpath "${2:?usage: $0 ZIP CA.pem}")
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" Update.exe gps-update-cli.exe -d "$work"
echo "== the signatures in $(basename "$zip")"
for exe in Update.exe gps-update-cli.exe; do
  unsigned=$(find build/windows/ui -name "$exe" -type f | head -1)
  [ -n "$unsigned" ] || fail "no unsigned $exe in build/windows (./dev dist builds it)"
  out=$(osslsigncode verify -CAfile "$ca" -in "$work/$exe" 2>&1) ||
    { echo "$out"; fail "osslsigncode does not accept the signature of $exe"; }
  grep -q "Signature verification: ok" <<<"$out" ||
    { echo "$out"; fail "$exe: no good signature"; }
  osslsigncode remove-signature -in "$work/$exe" -out "$work/$exe.stripped" >/dev/null
  cmp -s "$work/$exe.stripped" "$unsigned" ||
    fail "$exe without its signature is not the unsigned $unsigned"
  echo "   $exe: signed, verified; without the signature it is the unsigned build's"
done
