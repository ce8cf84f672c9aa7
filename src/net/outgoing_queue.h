// What a session has to send, between the thread that reads the terminal
// and the session's writer thread.
//
// The input side only appends and never waits for the peer: a full queue
// refuses the append at once, and an append is taken whole or not at all,
// so a paste never reaches the host cut in the middle. The writer takes one
// item at a time and sends it outside the queue's lock, so a writer blocked
// on a socket never holds anything the input side needs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

#include "platform/input_record.h"

class TOutgoingQueue {
  public:
    // Large enough that everyday pastes always fit.
    static constexpr std::size_t kDefaultCapacity = std::size_t{16} << 20;
    // Data is kept and handed to the writer in pieces of at most this many
    // bytes, so what is out of the queue but not yet sent stays small.
    static constexpr std::size_t kMaxPiece = std::size_t{64} << 10;

    // One thing to send: terminal data, or the terminal size to report.
    struct TItem {
        bool IsSize = false;
        std::string Bytes;
        COORD Size{0, 0};
    };

    explicit TOutgoingQueue(std::size_t capacity = kDefaultCapacity) : Capacity(capacity) {}

    // Queues all `length` bytes, or none of them: false when they do not fit
    // beside what is queued, or the queue is closed. Never waits for the
    // writer. An empty append is accepted and queues nothing.
    bool Append(const char* data, std::size_t length);
    // Queues a size report after the data queued so far. Only the latest of
    // several sizes not yet taken matters: a queued one is replaced. Takes
    // no room. False once closed.
    bool RequestSize(COORD size);
    // Waits until there is an item and moves it to `item`; false once the
    // queue is closed. On a thread with a cancellation the wait is
    // cancellable (TThreadCancelled).
    bool Take(TItem& item);
    // Refuses every later append and wakes the writer; what is queued is
    // dropped.
    void Close();

    // Data bytes queued and not yet taken.
    std::size_t Size() const;
    // Nothing at all (data or size report) waits to be taken.
    bool Empty() const;
    std::size_t GetCapacity() const { return Capacity; }

  private:
    const std::size_t Capacity;
    mutable std::mutex Mutex;
    std::condition_variable_any Ready;
    std::deque<TItem> Items;
    std::size_t Queued = 0;
    bool Closed = false;
};
