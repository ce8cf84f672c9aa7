#include "platform/stderr_log.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

bool RedirectStderrFromTerminal(int terminalFd) {
    if (!::isatty(STDERR_FILENO) || !::isatty(terminalFd)) return false;
    struct stat err {
    }, term{};
    if (::fstat(STDERR_FILENO, &err) != 0 || ::fstat(terminalFd, &term) != 0) return false;
    if (err.st_rdev != term.st_rdev) return false;
    struct stat existing {};
    if (::stat(kStderrLogName, &existing) == 0 && existing.st_size >= kStderrLogRotateSize)
        (void)::rename(kStderrLogName, kStderrLogOldName);
    const int fd = ::open(kStderrLogName, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        // No log file possible: losing the lines beats corrupting the screen.
        const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null_fd < 0) return false;
        ::dup2(null_fd, STDERR_FILENO);
        ::close(null_fd);
        return true;
    }
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    return true;
}
