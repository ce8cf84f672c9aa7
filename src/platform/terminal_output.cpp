#include "platform/terminal_output.h"

#include <unistd.h>
#include <cerrno>

namespace {

TFairRecursiveMutex output_lock;
int output_fd = -1;
std::function<void(std::string_view)> output_sink;

}  // namespace

TFairRecursiveMutex& OutputLock() {
    return output_lock;
}

void SetTerminalOutputFd(int fd) {
    std::lock_guard guard(output_lock);
    output_fd = fd;
}

int TerminalOutputFd() {
    std::lock_guard guard(output_lock);
    return output_fd;
}

void SetTerminalOutputSink(std::function<void(std::string_view)> sink) {
    std::lock_guard guard(output_lock);
    output_sink = std::move(sink);
}

void TerminalWrite(std::string_view bytes) {
    std::lock_guard guard(output_lock);
    if (output_sink) {
        output_sink(bytes);
        return;
    }
    if (output_fd < 0) return;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(output_fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}
