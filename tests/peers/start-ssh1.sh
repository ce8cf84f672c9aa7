#!/usr/bin/env bash
# The SSH-1 peer (ssh1_peer.py) twice on 127.0.0.1:
#   ssh1         port $QUENLOR_SSH1_PORT: 3DES and Blowfish, password and RSA logins;
#   ssh1-no3des  port $QUENLOR_SSH1_NO3DES_PORT: the same without the 3DES bit.
# Usage: start-ssh1.sh [ssh1|ssh1-no3des]   (both when no name is given)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
source "$QUENLOR_PEERS_DIR/lib.sh"

common=("$QUENLOR_PEERS_PYTHON" "$QUENLOR_PEERS_DIR/ssh1_peer.py"
  --user "$QUENLOR_TEST_USER" --password "$QUENLOR_TEST_PASSWORD"
  --authorized "$QUENLOR_SSH1_AUTHORIZED_KEYS" --host-key "$QUENLOR_SSH1_HOST_KEY"
  --pty-record "$QUENLOR_SSH1_PTY_FILE" --stderr-banner "$QUENLOR_SSH1_BANNER")

names=("$@")
[ ${#names[@]} -gt 0 ] || names=(ssh1 ssh1-no3des)
for name in "${names[@]}"; do
  case $name in
    ssh1) start_peer ssh1 "$QUENLOR_SSH1_PORT" "${common[@]}" --port "$QUENLOR_SSH1_PORT" ;;
    ssh1-no3des) start_peer ssh1-no3des "$QUENLOR_SSH1_NO3DES_PORT" "${common[@]}" \
                   --port "$QUENLOR_SSH1_NO3DES_PORT" --no-3des ;;
    *) echo "start-ssh1.sh: unknown server $name" >&2; exit 1 ;;
  esac
done
