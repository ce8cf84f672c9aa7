#!/usr/bin/env bash
# Prepares the test account and starts every test server on 127.0.0.1 (see env.sh for the
# ports).  Servers that already run are left alone.  Exits non-zero when one fails to start.
set -euo pipefail
HERE=$(dirname "${BASH_SOURCE[0]}")

bash "$HERE/setup-accounts.sh"
bash "$HERE/start-sshd.sh"
bash "$HERE/start-sshd-modern.sh"
bash "$HERE/start-telnetd.sh"
bash "$HERE/start-ssh2js.sh"
bash "$HERE/start-ssh1.sh"
