#!/usr/bin/env bash
# Stops test servers by the PIDs their start scripts recorded.
# Usage: stop-server.sh NAME...   (sshd sshd-nokex sshd-rekey telnetd ssh2js ssh1 ssh1-no3des)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
source "$QUENLOR_PEERS_DIR/lib.sh"

for name in "$@"; do
  stop_peer "$name"
done
