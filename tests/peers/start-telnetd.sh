#!/usr/bin/env bash
# Debian's inetutils-telnetd on 127.0.0.1:$QUENLOR_TELNET_PORT, one telnetd per connection
# through socat (never the system's inetd service).  It negotiates TERMINAL-TYPE, NEW-ENVIRON,
# NAWS, ECHO and SGA, then shows "login: " from /bin/login.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
source "$QUENLOR_PEERS_DIR/lib.sh"

start_peer telnetd "$QUENLOR_TELNET_PORT" \
  socat "TCP-LISTEN:$QUENLOR_TELNET_PORT,bind=127.0.0.1,reuseaddr,fork" EXEC:/usr/sbin/telnetd,nofork
