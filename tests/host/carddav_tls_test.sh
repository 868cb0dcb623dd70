#!/usr/bin/env bash
# mzhost serve with --tls-cert and --tls-key speaks TLS only: a client that
# trusts the certificate gets the address book over https, and plain HTTP on
# the same port gets no answer.
# Usage: carddav_tls_test.sh MZHOST
set -euo pipefail
mzhost=$1
. "$(dirname "$0")/../../scripts/serve-lib.sh"
serve_scratch

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2> /dev/null
echo "tls-test-secret" > "$work/password"
start_serve "$mzhost" "$work/phone" "$work/password" "$work" \
  --tls-cert "$work/cert.pem" --tls-key "$work/key.pem"
case $url in
  https://*) ;;
  *) echo "FAILED: first line is not an https address: $url"; exit 1 ;;
esac

status=$(curl -s --max-time 20 --cacert "$work/cert.pem" -u mz:tls-test-secret -X PROPFIND \
  -H 'Depth: 0' -o /dev/null -w '%{http_code}' "${url}dav/")
[ "$status" = 207 ] || { echo "FAILED: PROPFIND over https gave $status"; exit 1; }
status=$(curl -s --max-time 20 --cacert "$work/cert.pem" -o /dev/null -w '%{http_code}' "${url}dav/")
[ "$status" = 401 ] || { echo "FAILED: https without credentials gave $status"; exit 1; }
plain=${url/https:/http:}
if curl -s --max-time 20 -u mz:tls-test-secret -o /dev/null "${plain}dav/"; then
  echo "FAILED: plain HTTP was answered on the TLS port"
  exit 1
fi
echo "ok: TLS only"
