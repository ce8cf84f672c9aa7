// Private key files of the user. Keys are read completely at each login and
// the file is closed at once; nothing is cached.
//
// Problems with a file give false with a debug line only; the caller decides
// what to report. Only unprotected files can be read in practice: the login
// passes the empty passphrase, and no reader ever prompts on the terminal.
#pragma once

#include <cstdio>

#include "ssh/keys/key.h"

// Reads the private key of `key`'s type from `file_name` into `key`
// (KEY_DSA: a PEM DSA private key). When `comment_out` is not null it gets a
// new xmalloc text. False for a file that cannot be opened or read, and for
// key types without a reader.
bool load_private_key_file(const char* file_name, const char* passphrase, Key* key,
                           char** comment_out);
// PEM-encoded DSA private key from an open stream (not closed here).
bool load_dsa_private_key(FILE* file, const char* passphrase, Key* key, char** comment_out);
