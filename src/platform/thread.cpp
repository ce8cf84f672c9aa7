#include "platform/thread.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

struct WakePipe {
    int fds[2] = {-1, -1};
    WakePipe() { (void)!pipe2(fds, O_CLOEXEC | O_NONBLOCK); }
};

WakePipe& EndPipe() {
    static WakePipe pipe;
    return pipe;
}

}  // namespace

int ThreadEndFd() {
    return EndPipe().fds[0];
}

void DrainThreadEnds() {
    char bytes[64];
    while (read(EndPipe().fds[0], bytes, sizeof bytes) > 0) {
    }
}

TThread::~TThread() {
    if (thread_.joinable()) thread_.join();
}

void TThread::Start(std::function<void()> body) {
    EndPipe();  // created before any thread can race to create it
    thread_ = std::thread([this, body = std::move(body)] {
        SetCurrentCancellation(&cancellation_);
        try {
            body();
        } catch (const TThreadCancelled&) {
        }
        SetCurrentCancellation(nullptr);
        finished_.Set();
        char byte = 1;
        (void)!write(EndPipe().fds[1], &byte, 1);
    });
}

void TThread::Join() {
    finished_.Wait();
    if (thread_.joinable()) thread_.join();
}
