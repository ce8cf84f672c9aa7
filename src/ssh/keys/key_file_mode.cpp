#include "ssh/keys/key_file_mode.h"

#include <sys/stat.h>
#include <unistd.h>

#include "ssh/wire/log.h"

void key_file_check_mode(const char* path) {
    struct stat st {};
    if (path == nullptr || ::stat(path, &st) != 0) return;
    // Only the owner's own files: a key the administrator placed and owns
    // is not this user's to fix.
    if (st.st_uid != ::getuid() || (st.st_mode & 077) == 0) return;
    fatal(
        "Private key file %.200s is open to others (mode 0%03o): it is not used. Make it "
        "readable by you alone: chmod 600 %.200s",
        path, static_cast<unsigned>(st.st_mode & 0777), path);
}
