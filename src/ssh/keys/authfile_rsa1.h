// The protocol-1 RSA private key file ("SSH PRIVATE KEY FILE FORMAT 1.1"),
// with its private part in clear or protected by 3DES or Blowfish under a
// passphrase; the other key files are read by authfile.h.
//
// Key files come from the user's disk and may be anything: every field is
// bounds-checked before it is read, so a short, truncated or malformed file
// gives false (with a debug line saying why), never a read past its bytes.
// The file is read completely and closed before parsing starts. Stateless:
// any thread may call these.
#pragma once

#include <openssl/rsa.h>

#include "ssh/keys/key.h"

// Identification that opens every protocol-1 key file; its terminating zero
// is part of it.
constexpr char kRsa1FileIdentification[] = "SSH PRIVATE KEY FILE FORMAT 1.1\n";
constexpr int kRsa1FileIdentificationLength = 33;
// Larger files are not key files; refusing them keeps a mistaken path (a log
// file, a device) from being read into memory whole.
constexpr long kMaxKeyFileSize = 1024 * 1024;

// Reads only the unencrypted head of the file: the public modulus and
// exponent go into `key` (a KEY_RSA Key), the comment to *comment when
// `comment` is not null (an xmalloc text the caller releases). False when the
// file cannot be opened or read or is no protocol-1 key file.
bool load_rsa1_public_key(const char* name, Key* key, char** comment);

// Reads the whole private key under `passphrase` into `key` (a KEY_RSA Key),
// whose RSA object is replaced only on success. A wrong passphrase is told
// by a debug line unless the passphrase is empty.
bool load_rsa1_private_key_file(const char* name, const char* passphrase, Key* key, char** comment);

// The same reader on an open descriptor, which it closes in every case. On
// success `rsa` holds n, e, d, p, q and the CRT values; on failure it is
// left unchanged.
bool load_rsa1_private_key(int fd, const char* name, const char* passphrase, RSA* rsa,
                           char** comment);
