#!/usr/bin/env bash
# Debian's openssh-server as its own sshd processes on 127.0.0.1 (never the system service):
#   sshd        port $QUENLOR_SSHD_PORT: diffie-hellman-group1-sha1, ssh-dss, 3des-cbc,
#               hmac-sha1/hmac-md5, password and ssh-dss public-key logins;
#   sshd-nokex  port $QUENLOR_SSHD_NOKEX_PORT: the same, but only modern key exchanges, so a
#               client that offers group1 alone finds no common key-exchange algorithm;
#   sshd-rekey  port $QUENLOR_SSHD_REKEY_PORT: the first set-up with "RekeyLimit 256K", so the
#               server starts a new key exchange after every 256 KB in either direction;
#   sshd-kbdint port $QUENLOR_SSHD_KBDINT_PORT: the legacy algorithms, keyboard-interactive
#               through PAM as the only login;
#   sshd-keys   port $QUENLOR_SSHD_KEYS_PORT: the legacy algorithms, public keys only, of every
#               type (the keys of setup-user-keys.sh).
# Usage: start-sshd.sh [sshd|sshd-nokex|sshd-rekey|sshd-kbdint|sshd-keys]   (all when no name is given)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
source "$QUENLOR_PEERS_DIR/lib.sh"

SSHD=/usr/sbin/sshd   # sshd insists on an absolute path when it re-executes itself

PASSWORD_AUTH="PubkeyAuthentication yes
PubkeyAcceptedAlgorithms ssh-dss
PasswordAuthentication yes
KbdInteractiveAuthentication no
AuthorizedKeysFile $QUENLOR_AUTHORIZED_KEYS"
KBDINT_AUTH="PubkeyAuthentication no
PasswordAuthentication no
KbdInteractiveAuthentication yes
AuthorizedKeysFile none"
KEYS_AUTH="PubkeyAuthentication yes
PubkeyAcceptedAlgorithms ssh-ed25519,ecdsa-sha2-nistp256,ecdsa-sha2-nistp384,ecdsa-sha2-nistp521,rsa-sha2-512,rsa-sha2-256,ssh-dss
PasswordAuthentication no
KbdInteractiveAuthentication no
AuthorizedKeysFile $QUENLOR_KEYS_AUTHORIZED_KEYS"

write_config() {  # name port kex-algorithms [authentication lines] [extra line]
  cat >"$STATE/$1.conf" <<CONF
ListenAddress 127.0.0.1
Port $2
HostKey $QUENLOR_HOST_DSA_KEY
PidFile $STATE/$1.daemon-pid
KexAlgorithms $3
HostKeyAlgorithms ssh-dss
Ciphers 3des-cbc
MACs hmac-sha1,hmac-md5
Compression no
${4:-$PASSWORD_AUTH}
UsePAM yes
StrictModes no
PrintMotd no
PrintLastLog no
PermitRootLogin no
AllowUsers $QUENLOR_TEST_USER
X11Forwarding no
LogLevel VERBOSE
${5:-}
CONF
  "$SSHD" -t -f "$STATE/$1.conf"
}

start_one() {
  case $1 in
    sshd) write_config sshd "$QUENLOR_SSHD_PORT" diffie-hellman-group1-sha1
          start_peer sshd "$QUENLOR_SSHD_PORT" "$SSHD" -D -e -f "$STATE/sshd.conf" ;;
    sshd-nokex) write_config sshd-nokex "$QUENLOR_SSHD_NOKEX_PORT" \
                  curve25519-sha256,ecdh-sha2-nistp256,diffie-hellman-group14-sha256
          start_peer sshd-nokex "$QUENLOR_SSHD_NOKEX_PORT" "$SSHD" -D -e -f "$STATE/sshd-nokex.conf" ;;
    sshd-rekey) write_config sshd-rekey "$QUENLOR_SSHD_REKEY_PORT" diffie-hellman-group1-sha1 \
                  "$PASSWORD_AUTH" "RekeyLimit 256K"
          start_peer sshd-rekey "$QUENLOR_SSHD_REKEY_PORT" "$SSHD" -D -e -f "$STATE/sshd-rekey.conf" ;;
    sshd-kbdint) write_config sshd-kbdint "$QUENLOR_SSHD_KBDINT_PORT" diffie-hellman-group1-sha1 \
                   "$KBDINT_AUTH"
          start_peer sshd-kbdint "$QUENLOR_SSHD_KBDINT_PORT" "$SSHD" -D -e -f "$STATE/sshd-kbdint.conf" ;;
    sshd-keys) bash "$QUENLOR_PEERS_DIR/setup-user-keys.sh"
          write_config sshd-keys "$QUENLOR_SSHD_KEYS_PORT" diffie-hellman-group1-sha1 "$KEYS_AUTH"
          start_peer sshd-keys "$QUENLOR_SSHD_KEYS_PORT" "$SSHD" -D -e -f "$STATE/sshd-keys.conf" ;;
    *) echo "start-sshd.sh: unknown server $1" >&2; return 1 ;;
  esac
}

mkdir -p /run/sshd
chmod 755 /run/sshd
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(sshd sshd-nokex sshd-rekey sshd-kbdint sshd-keys)
for name in "${names[@]}"; do
  start_one "$name"
done
