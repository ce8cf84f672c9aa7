#include "net/outgoing_queue.h"

#include <algorithm>
#include <utility>

#include "platform/cancel.h"

bool TOutgoingQueue::Append(const char* data, std::size_t length) {
    if (length == 0) {
        std::lock_guard guard(Mutex);
        return !Closed;
    }
    std::unique_lock lock(Mutex);
    if (Closed || length > Capacity - Queued) return false;
    // Topping up the last piece first keeps a run of single keys in one
    // send instead of one packet per key.
    std::size_t done = 0;
    if (!Items.empty() && !Items.back().IsSize && Items.back().Bytes.size() < kMaxPiece) {
        std::string& last = Items.back().Bytes;
        done = std::min(length, kMaxPiece - last.size());
        last.append(data, done);
    }
    while (done < length) {
        const std::size_t piece = std::min(length - done, kMaxPiece);
        TItem item;
        item.Bytes.assign(data + done, piece);
        Items.push_back(std::move(item));
        done += piece;
    }
    Queued += length;
    lock.unlock();
    Ready.notify_one();
    return true;
}

bool TOutgoingQueue::RequestSize(COORD size) {
    std::unique_lock lock(Mutex);
    if (Closed) return false;
    if (!Items.empty() && Items.back().IsSize) {
        Items.back().Size = size;
        return true;
    }
    TItem item;
    item.IsSize = true;
    item.Size = size;
    Items.push_back(std::move(item));
    lock.unlock();
    Ready.notify_one();
    return true;
}

bool TOutgoingQueue::Take(TItem& item) {
    TCancellation* cancel = CurrentCancellation();
    if (cancel != nullptr) cancel->Attach(&Ready, &Mutex);
    bool got = false;
    {
        std::unique_lock lock(Mutex);
        Ready.wait(lock, [&] {
            return Closed || !Items.empty() || (cancel != nullptr && cancel->IsCancelled());
        });
        if (!Closed && !Items.empty() && (cancel == nullptr || !cancel->IsCancelled())) {
            item = std::move(Items.front());
            Items.pop_front();
            if (!item.IsSize) Queued -= item.Bytes.size();
            got = true;
        }
    }
    if (cancel != nullptr) {
        cancel->Detach();
        cancel->ThrowIfCancelled();
    }
    return got;
}

void TOutgoingQueue::Close() {
    {
        std::lock_guard guard(Mutex);
        Closed = true;
        Items.clear();
        Queued = 0;
    }
    Ready.notify_all();
}

std::size_t TOutgoingQueue::Size() const {
    std::lock_guard guard(Mutex);
    return Queued;
}

bool TOutgoingQueue::Empty() const {
    std::lock_guard guard(Mutex);
    return Items.empty();
}
