#!/usr/bin/env bash
# A throwaway certificate authority and a server certificate it signed, for 127.0.0.1 and
# localhost, made when a test starts (so they never expire in a build tree).
# Usage: make_cert.sh OUT_DIR   ->  OUT_DIR/ca.pem (trust this), OUT_DIR/server.pem (cert + key)
set -euo pipefail
out="$1"
mkdir -p "$out"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
  -subj "/CN=Vornel test CA" -keyout "$tmp/ca.key" -out "$out/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
  -subj "/CN=127.0.0.1" -keyout "$tmp/server.key" -out "$tmp/server.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >"$tmp/ext"
openssl x509 -req -in "$tmp/server.csr" -CA "$out/ca.pem" -CAkey "$tmp/ca.key" -CAserial "$tmp/ca.srl" -CAcreateserial \
  -days 2 -extfile "$tmp/ext" -out "$tmp/server.crt" 2>/dev/null
cat "$tmp/server.crt" "$tmp/server.key" >"$out/server.pem"
