// A private key file that others may read is not a private key any more:
// it is refused before it is read, as the OpenSSH tools refuse it.
#pragma once

// Fatal (with the file's name, its mode and the cure) when `path` is the
// user's own file and its group or others have any access to it. A file
// that cannot be looked at is left to the reader to report.
void key_file_check_mode(const char* path);
