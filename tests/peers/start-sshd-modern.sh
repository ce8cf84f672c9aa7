#!/usr/bin/env bash
# Debian's openssh-server for the modern and middle-generation SSH-2 algorithms:
#   sshd-modern   port $QUENLOR_SSHD_MODERN_PORT: every key exchange, host key, cipher and MAC
#                 both this sshd and Quenlor know (the legacy ones included), host keys
#                 ed25519, ecdsa P-256/P-384/P-521 and RSA 2048; the client's own list picks
#                 the one algorithm of each kind a test wants;
#   sshd-default  port $QUENLOR_SSHD_DEFAULT_PORT: no algorithm settings at all (Debian's own
#                 defaults), host keys ed25519, ecdsa P-256 and RSA;
#   sshd-gear     port $QUENLOR_SSHD_GEAR_PORT: exactly one algorithm of each kind, as old
#                 network gear offers it: diffie-hellman-group14-sha1, ssh-rsa, aes128-cbc,
#                 hmac-sha1.
# Password login only. Usage: start-sshd-modern.sh [NAME...]   (all three when none is given)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
source "$QUENLOR_PEERS_DIR/lib.sh"

SSHD=/usr/sbin/sshd   # sshd insists on an absolute path when it re-executes itself

host_key() {  # file type bits
  if [ ! -s "$1" ]; then
    rm -f "$1" "$1.pub"
    ssh-keygen -q -t "$2" ${3:+-b "$3"} -N '' -C quenlor-test-host -f "$1"
  fi
  chmod 600 "$1"
}
host_key "$QUENLOR_HOST_ED25519_KEY" ed25519
host_key "$QUENLOR_HOST_ECDSA256_KEY" ecdsa 256
host_key "$QUENLOR_HOST_ECDSA384_KEY" ecdsa 384
host_key "$QUENLOR_HOST_ECDSA521_KEY" ecdsa 521
host_key "$QUENLOR_HOST_RSA_KEY" rsa 2048

ALL_KEX=curve25519-sha256,curve25519-sha256@libssh.org,ecdh-sha2-nistp256,ecdh-sha2-nistp384,\
ecdh-sha2-nistp521,diffie-hellman-group-exchange-sha256,diffie-hellman-group16-sha512,\
diffie-hellman-group18-sha512,diffie-hellman-group14-sha256,diffie-hellman-group14-sha1,\
diffie-hellman-group-exchange-sha1,diffie-hellman-group1-sha1
ALL_HOSTKEYS=ssh-ed25519,ecdsa-sha2-nistp256,ecdsa-sha2-nistp384,ecdsa-sha2-nistp521,\
rsa-sha2-512,rsa-sha2-256,ssh-rsa
ALL_CIPHERS=chacha20-poly1305@openssh.com,aes128-gcm@openssh.com,aes256-gcm@openssh.com,\
aes128-ctr,aes192-ctr,aes256-ctr,aes128-cbc,aes192-cbc,aes256-cbc,3des-cbc
ALL_MACS=hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha1-etm@openssh.com,\
hmac-sha2-256,hmac-sha2-512,hmac-sha1,hmac-md5

write_config() {  # name port algorithm-lines host-keys...
  local name=$1 port=$2 algorithms=$3 key
  shift 3
  {
    echo "ListenAddress 127.0.0.1"
    echo "Port $port"
    for key in "$@"; do echo "HostKey $key"; done
    echo "PidFile $STATE/$name.daemon-pid"
    printf '%b' "$algorithms"
    cat <<CONF
Compression no
PubkeyAuthentication no
PasswordAuthentication yes
KbdInteractiveAuthentication no
UsePAM yes
StrictModes no
PrintMotd no
PrintLastLog no
PermitRootLogin no
AllowUsers $QUENLOR_TEST_USER
X11Forwarding no
LogLevel VERBOSE
CONF
  } >"$STATE/$name.conf"
  "$SSHD" -t -f "$STATE/$name.conf"
}

start_one() {
  case $1 in
    sshd-modern)
      write_config sshd-modern "$QUENLOR_SSHD_MODERN_PORT" \
        "KexAlgorithms $ALL_KEX\nHostKeyAlgorithms $ALL_HOSTKEYS\nCiphers $ALL_CIPHERS\nMACs $ALL_MACS\n" \
        "$QUENLOR_HOST_ED25519_KEY" "$QUENLOR_HOST_ECDSA256_KEY" "$QUENLOR_HOST_ECDSA384_KEY" \
        "$QUENLOR_HOST_ECDSA521_KEY" "$QUENLOR_HOST_RSA_KEY" ;;
    sshd-default)
      write_config sshd-default "$QUENLOR_SSHD_DEFAULT_PORT" "" \
        "$QUENLOR_HOST_ED25519_KEY" "$QUENLOR_HOST_ECDSA256_KEY" "$QUENLOR_HOST_RSA_KEY" ;;
    sshd-gear)
      write_config sshd-gear "$QUENLOR_SSHD_GEAR_PORT" \
        "KexAlgorithms diffie-hellman-group14-sha1\nHostKeyAlgorithms ssh-rsa\nCiphers aes128-cbc\nMACs hmac-sha1\n" \
        "$QUENLOR_HOST_RSA_KEY" ;;
    *) echo "start-sshd-modern.sh: unknown server $1" >&2; return 1 ;;
  esac
  start_peer "$1" "$(sed -n 's/^Port //p' "$STATE/$1.conf")" "$SSHD" -D -e -f "$STATE/$1.conf"
}

mkdir -p /run/sshd
chmod 755 /run/sshd
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(sshd-modern sshd-default sshd-gear)
for name in "${names[@]}"; do
  start_one "$name"
done
