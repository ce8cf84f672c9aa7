#!/usr/bin/env bash
# Stops every test server that start-all.sh started (by its recorded PID).
set -euo pipefail
HERE=$(dirname "${BASH_SOURCE[0]}")

bash "$HERE/stop-server.sh" ssh1-no3des ssh1 ssh2js telnetd sshd-keys sshd-kbdint sshd-rekey sshd-nokex sshd \
  sshd-gear sshd-default sshd-modern
