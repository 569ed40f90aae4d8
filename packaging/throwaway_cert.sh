#!/usr/bin/env bash
# Makes a code-signing certificate for one test run, in FOLDER:
#   sign.p12   the certificate and its key, as ./dev dist takes them
#              (GPS_SIGN_PKCS12)
#   password   the PKCS#12 file's password (GPS_SIGN_PASSWORD_FILE), random
#   ca.pem     the certificate alone, which a check of the signatures trusts
#              (it signs itself: no one else trusts it)
#
#   packaging/throwaway_cert.sh FOLDER
set -euo pipefail
dir=${1:?usage: $0 FOLDER}
mkdir -p "$dir"
umask 077
openssl rand -hex 16 > "$dir/password"
openssl req -x509 -newkey rsa:3072 -sha256 -nodes -days 2 -keyout "$dir/key.pem" \
  -out "$dir/ca.pem" -subj "/CN=gps-update throwaway test signing" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  2>/dev/null
openssl pkcs12 -export -inkey "$dir/key.pem" -in "$dir/ca.pem" -out "$dir/sign.p12" \
  -passout "file:$dir/password"
rm "$dir/key.pem"
echo "== a throwaway signing certificate in $dir"
