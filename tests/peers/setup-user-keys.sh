#!/usr/bin/env bash
# The user keys of the public-key peer, one per type and file format, made by ssh-keygen when
# missing, and their authorized_keys file. Idempotent.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
mkdir -p "$QUENLOR_PEERS_STATE"

user_key() {  # file type bits format passphrase
  if [ ! -s "$1" ] || [ ! -s "$1.pub" ]; then
    rm -f "$1" "$1.pub"
    local args=(-q -t "$2" -N "$5" -C "quenlor-$(basename "$1")" -f "$1")
    [ "$3" = 0 ] || args+=(-b "$3")
    [ -z "$4" ] || args+=(-m "$4")
    ssh-keygen "${args[@]}" </dev/null >/dev/null
  fi
  chmod 600 "$1"
  chmod 644 "$1.pub"
}
P=$QUENLOR_USER_KEY_PASSPHRASE
user_key "$QUENLOR_USER_ED25519_KEY" ed25519 0 "" ""
user_key "$QUENLOR_USER_ED25519_ENC_KEY" ed25519 0 "" "$P"
user_key "$QUENLOR_USER_ECDSA256_KEY" ecdsa 256 PEM ""
user_key "$QUENLOR_USER_ECDSA384_KEY" ecdsa 384 "" "$P"
user_key "$QUENLOR_USER_ECDSA521_KEY" ecdsa 521 PKCS8 "$P"
user_key "$QUENLOR_USER_RSA_KEY" rsa 3072 "" "$P"
user_key "$QUENLOR_USER_RSA_PEM_KEY" rsa 2048 PEM "$P"
user_key "$QUENLOR_USER_AGENT_KEY" rsa 2048 "" ""

cat "$QUENLOR_USER_ED25519_KEY.pub" "$QUENLOR_USER_ED25519_ENC_KEY.pub" \
  "$QUENLOR_USER_ECDSA256_KEY.pub" "$QUENLOR_USER_ECDSA384_KEY.pub" \
  "$QUENLOR_USER_ECDSA521_KEY.pub" "$QUENLOR_USER_RSA_KEY.pub" "$QUENLOR_USER_RSA_PEM_KEY.pub" \
  "$QUENLOR_USER_AGENT_KEY.pub" "$QUENLOR_USER_DSA_PUB" >"$QUENLOR_KEYS_AUTHORIZED_KEYS"
chmod 644 "$QUENLOR_KEYS_AUTHORIZED_KEYS"
