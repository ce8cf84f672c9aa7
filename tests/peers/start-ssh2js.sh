#!/usr/bin/env bash
# The npm ssh2 server (ssh2/server.js) on 127.0.0.1, ports $QUENLOR_SSH2JS_PORT (everything)
# and the one-algorithm ports of env.sh.  Installs the pinned package into ssh2/node_modules
# on first use (npm ci from package-lock.json) and mends two faults of the package:
#  - its identification check accepts only "SSH-2.0-" and "SSH-1.99-"; any 2.x is SSH-2
#    (RFC 4253 names 2.0, and clients announcing 2.1 exist), so accept "2.<digits>";
#  - plain "arcfour" (RFC 4253) discards no keystream; the 1536-byte discard belongs to
#    arcfour128/arcfour256 (RFC 4345) only.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
source "$QUENLOR_PEERS_DIR/lib.sh"

DIR=$QUENLOR_PEERS_DIR/ssh2
PKG=$DIR/node_modules/ssh2

installed_version() {
  node -p 'require(process.argv[1]).version' "$PKG/package.json" 2>/dev/null || true
}

if [ "$(installed_version)" != "1.17.0" ]; then
  echo "ssh2js: installing the ssh2 package (npm ci)"
  # No optional native add-ons and no install scripts: the package works in plain JavaScript.
  (cd "$DIR" && timeout 300 npm ci --omit=optional --ignore-scripts --no-audit --no-fund \
    --loglevel=error)
fi

sed -i 's/const RE_IDENT = \/^SSH-(2\\.0|1\\.99)-/const RE_IDENT = \/^SSH-(2\\.[0-9]+|1\\.99)-/' \
  "$PKG/lib/protocol/Protocol.js"
sed -i "s/'arcfour': info('rc4', 8, 16, 0, 0, 1536,/'arcfour': info('rc4', 8, 16, 0, 0, 0,/" \
  "$PKG/lib/protocol/crypto.js"
if ! grep -qF 'const RE_IDENT = /^SSH-(2\.[0-9]+|1\.99)-' "$PKG/lib/protocol/Protocol.js" ||
   ! grep -qF "'arcfour': info('rc4', 8, 16, 0, 0, 0," "$PKG/lib/protocol/crypto.js"; then
  echo "ssh2js: the two fixes to the ssh2 package did not apply" >&2
  exit 1
fi

start_peer ssh2js "$QUENLOR_SSH2JS_PORT $QUENLOR_SSH2JS_BLOWFISH_PORT $QUENLOR_SSH2JS_CAST128_PORT $QUENLOR_SSH2JS_ARCFOUR_PORT $QUENLOR_SSH2JS_HMACMD5_PORT $QUENLOR_SSH2JS_REKEY_PORT" \
  node --openssl-legacy-provider "$DIR/server.js"
