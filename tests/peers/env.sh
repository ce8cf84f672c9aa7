# shellcheck shell=bash
# Fixed ports, accounts and paths of the local test servers.
# Sourced by every script in this folder and by end-to-end tests; env.py gives Python tests
# exactly the same values (it sources this file through bash).
# Every server binds 127.0.0.1 only.

QUENLOR_PEERS_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export QUENLOR_PEERS_DIR

# Keys, configurations, logs and PID files live here; nothing in the work tree is written
# except tests/peers/ssh2/node_modules (git-ignored).
export QUENLOR_PEERS_STATE=${QUENLOR_PEERS_STATE:-/tmp/quenlor-peers}

# QUENLOR_PORT_OFFSET (default 0) shifts every port below, so that several work trees can run
# their own servers side by side (each with its own QUENLOR_PEERS_STATE).
_off=${QUENLOR_PORT_OFFSET:-0}

# Ports.
export QUENLOR_SSHD_PORT=$((2222 + _off))        # openssh-server with the legacy SSH-2 algorithms
export QUENLOR_SSHD_NOKEX_PORT=$((2223 + _off))  # the same sshd set-up without diffie-hellman-group1-sha1
export QUENLOR_SSH2JS_PORT=$((2224 + _off))      # npm ssh2 server: blowfish-cbc, cast128-cbc, arcfour, 3des-cbc
# The same server process offering one algorithm only, so that a client whose proposal is
# fixed still gets it ("3des-cbc" and "hmac-sha1" come first in Quenlor's lists).
export QUENLOR_SSH2JS_BLOWFISH_PORT=$((2227 + _off))  # blowfish-cbc only
export QUENLOR_SSH2JS_CAST128_PORT=$((2228 + _off))   # cast128-cbc only
export QUENLOR_SSH2JS_ARCFOUR_PORT=$((2229 + _off))   # arcfour only
export QUENLOR_SSH2JS_HMACMD5_PORT=$((2230 + _off))   # all four ciphers, hmac-md5 only
export QUENLOR_SSHD_REKEY_PORT=$((2231 + _off))  # the sshd set-up with "RekeyLimit 256K": re-keys often
export QUENLOR_SSH2JS_REKEY_PORT=$((2232 + _off))  # npm ssh2 server: re-keys after every 256 KB of output
export QUENLOR_SSHD_KBDINT_PORT=$((2260 + _off))  # sshd: keyboard-interactive (PAM) only
export QUENLOR_SSHD_KEYS_PORT=$((2261 + _off))    # sshd: public keys only, every key type
# Modern and middle-generation SSH-2 (start-sshd-modern.sh).
export QUENLOR_SSHD_MODERN_PORT=$((2240 + _off))   # every algorithm of this sshd and Quenlor
export QUENLOR_SSHD_DEFAULT_PORT=$((2241 + _off))  # Debian's defaults, no algorithm settings
export QUENLOR_SSHD_GEAR_PORT=$((2242 + _off))     # group14-sha1, ssh-rsa, aes128-cbc, hmac-sha1 only
export QUENLOR_SSH1_PORT=$((2225 + _off))        # SSH-1 peer offering 3DES and Blowfish
export QUENLOR_SSH1_NO3DES_PORT=$((2226 + _off)) # SSH-1 peer offering Blowfish only
export QUENLOR_TELNET_PORT=$((2323 + _off))      # inetutils-telnetd behind socat
export QUENLOR_REFUSED_PORT=$((2399 + _off))     # nothing listens here: for "connection refused" tests

# The test account (all servers authenticate this user only).
export QUENLOR_TEST_USER=quenlor
export QUENLOR_TEST_PASSWORD=quenlor-test-pw
export QUENLOR_TEST_HOME=/home/quenlor
# The shell prompt of the account (set in its .bashrc); no trailing newline.
export QUENLOR_TEST_PROMPT='quenlor$ '

# Keys (written by setup-accounts.sh).
export QUENLOR_HOST_DSA_KEY=$QUENLOR_PEERS_STATE/host_dsa        # SSH-2 host key, PEM, ssh-dss
export QUENLOR_HOST_ED25519_KEY=$QUENLOR_PEERS_STATE/host_ed25519  # modern sshd host keys
export QUENLOR_HOST_ECDSA256_KEY=$QUENLOR_PEERS_STATE/host_ecdsa256
export QUENLOR_HOST_ECDSA384_KEY=$QUENLOR_PEERS_STATE/host_ecdsa384
export QUENLOR_HOST_ECDSA521_KEY=$QUENLOR_PEERS_STATE/host_ecdsa521
export QUENLOR_HOST_RSA_KEY=$QUENLOR_PEERS_STATE/host_rsa
export QUENLOR_USER_DSA_KEY=$QUENLOR_PEERS_STATE/user_dsa        # "BEGIN DSA PRIVATE KEY"
export QUENLOR_USER_DSA_PUB=$QUENLOR_PEERS_STATE/user_dsa.pub
export QUENLOR_AUTHORIZED_KEYS=$QUENLOR_PEERS_STATE/authorized_keys
# User keys of every type for the public-key peer (setup-user-keys.sh, made by ssh-keygen);
# the encrypted ones take QUENLOR_USER_KEY_PASSPHRASE.
export QUENLOR_USER_KEY_PASSPHRASE=quenlor-key-pass
export QUENLOR_USER_ED25519_KEY=$QUENLOR_PEERS_STATE/user_ed25519          # OpenSSH, plain
export QUENLOR_USER_ED25519_ENC_KEY=$QUENLOR_PEERS_STATE/user_ed25519_enc  # OpenSSH, encrypted
export QUENLOR_USER_ECDSA256_KEY=$QUENLOR_PEERS_STATE/user_ecdsa256        # PEM, plain
export QUENLOR_USER_ECDSA384_KEY=$QUENLOR_PEERS_STATE/user_ecdsa384        # OpenSSH, encrypted
export QUENLOR_USER_ECDSA521_KEY=$QUENLOR_PEERS_STATE/user_ecdsa521        # PKCS #8, encrypted
export QUENLOR_USER_RSA_KEY=$QUENLOR_PEERS_STATE/user_rsa                  # OpenSSH, encrypted
export QUENLOR_USER_RSA_PEM_KEY=$QUENLOR_PEERS_STATE/user_rsa_pem          # PEM, encrypted
export QUENLOR_USER_AGENT_KEY=$QUENLOR_PEERS_STATE/user_agent_rsa          # for ssh-agent, plain
export QUENLOR_KEYS_AUTHORIZED_KEYS=$QUENLOR_PEERS_STATE/keys_authorized_keys
export QUENLOR_USER_RSA1_KEY=$QUENLOR_PEERS_STATE/user_rsa1      # SSH-1 key file, cipher 0
export QUENLOR_USER_RSA1_PUB=$QUENLOR_PEERS_STATE/user_rsa1.pub  # "bits e n comment"
export QUENLOR_SSH1_AUTHORIZED_KEYS=$QUENLOR_PEERS_STATE/ssh1_authorized_keys
export QUENLOR_SSH1_HOST_KEY=$QUENLOR_PEERS_STATE/ssh1_host_rsa.pem

# What the SSH-1 peer records: one line per event, "pty TERM ROWS COLS" for REQUEST_PTY and
# "window ROWS COLS" for WINDOW_SIZE, appended in arrival order.
export QUENLOR_SSH1_PTY_FILE=$QUENLOR_PEERS_STATE/ssh1-pty.txt
# The SSH-1 peer sends this line (and CR LF) as SSH_SMSG_STDERR_DATA when a shell starts, so
# every SSH-1 session shows one standard-error message before the prompt.
export QUENLOR_SSH1_BANNER='SSH-1 test peer: stderr line'

# Files in the test account's home directory.
export QUENLOR_KOI8R_FILE=$QUENLOR_TEST_HOME/koi8r.txt            # KOI8-R bytes
export QUENLOR_CYRILLIC_UTF8_FILE=$QUENLOR_TEST_HOME/cyrillic-utf8.txt  # same text, UTF-8
export QUENLOR_LINES200_FILE=$QUENLOR_TEST_HOME/lines200.txt      # "line 001" .. "line 200"
export QUENLOR_BIG_FILE=$QUENLOR_TEST_HOME/big20m.txt             # 20 000 000 bytes of text

# The only Python that has Debian's python3-cryptography.
export QUENLOR_PEERS_PYTHON=/usr/bin/python3
