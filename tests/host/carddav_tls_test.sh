#!/usr/bin/env bash
# mzhost serve with --tls-cert and --tls-key speaks TLS only: a client that
# trusts the certificate gets the address book over https, and plain HTTP on
# the same port gets no answer.
# Usage: carddav_tls_test.sh MZHOST
set -euo pipefail
mzhost=$1
work=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ]; then kill -TERM "$server" 2>/dev/null || true; wait "$server" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2> /dev/null
echo "tls-test-secret" > "$work/password"
"$mzhost" --device "$work/phone" serve --listen 127.0.0.1:0 --password-file "$work/password" \
  --tls-cert "$work/cert.pem" --tls-key "$work/key.pem" > "$work/serve.out" 2> "$work/serve.err" &
server=$!
for _ in $(seq 1 300); do
  grep -qs '^listening on' "$work/serve.out" && break
  kill -0 "$server" 2>/dev/null || { cat "$work/serve.err"; exit 1; }
  sleep 0.1
done
url=$(sed -n 's/^listening on \(https:[^ ]*\)$/\1/p' "$work/serve.out")
[ -n "$url" ] || { echo "FAILED: first line is not an https address: $(head -1 "$work/serve.out")"; exit 1; }

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
