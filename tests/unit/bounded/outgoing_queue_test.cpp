#include "net/outgoing_queue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "../base/case_file.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace {

bool EndsWithin(TThread& thread, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!thread.Finished()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        usleep(1000);
    }
    return true;
}

// Everything queued, in the order the writer would take it; data items as
// their bytes, size items as "<X,Y>".
std::vector<std::string> Drain(TOutgoingQueue& queue) {
    std::vector<std::string> out;
    TOutgoingQueue::TItem item;
    while (!queue.Empty() && queue.Take(item)) {
        out.push_back(item.IsSize ? "<" + std::to_string(item.Size.X) + "," +
                                        std::to_string(item.Size.Y) + ">"
                                  : item.Bytes);
    }
    return out;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string all;
    for (const auto& s : items) all += s;
    return all;
}

}  // namespace

// An append is taken whole or refused whole, against what is queued now;
// taking makes room again.
TEST(OutgoingQueue, AcceptsWholeOrNothing) {
    for (const TCase& c : ReadCases("bounded/outgoing_queue.cases")) {
        SCOPED_TRACE(c.where + ": " + c[0]);
        TOutgoingQueue queue(c[1] == "default" ? TOutgoingQueue::kDefaultCapacity
                                               : static_cast<std::size_t>(Num(c[1])));
        const std::vector<std::string> appends = Words(c[2]), accepted = Words(c[3]);
        std::string expected;
        for (std::size_t i = 0; i < appends.size(); ++i) {
            const std::string bytes(static_cast<std::size_t>(Num(appends[i])),
                                    static_cast<char>('a' + i));
            EXPECT_EQ(queue.Append(bytes.data(), bytes.size()), accepted.at(i) == "1") << i;
            if (accepted[i] == "1") expected += bytes;
        }
        EXPECT_EQ(queue.Size(), static_cast<std::size_t>(Num(c[4])));
        EXPECT_EQ(Joined(Drain(queue)), expected);
        EXPECT_EQ(queue.Size(), 0u);
    }
}

TEST(OutgoingQueue, TakingMakesRoomAgain) {
    TOutgoingQueue queue(100);
    const std::string a(100, 'a');
    ASSERT_TRUE(queue.Append(a.data(), a.size()));
    EXPECT_FALSE(queue.Append("b", 1));
    TOutgoingQueue::TItem item;
    ASSERT_TRUE(queue.Take(item));
    EXPECT_EQ(item.Bytes, a);
    EXPECT_TRUE(queue.Append("b", 1));
}

// Pieces stay at most kMaxPiece bytes (what is out of the queue but unsent
// stays small), keys typed one by one share a piece, and nothing is lost or
// reordered when a large paste is split.
TEST(OutgoingQueue, SplitsIntoBoundedPiecesInOrder) {
    constexpr std::size_t kPiece = TOutgoingQueue::kMaxPiece;
    TOutgoingQueue queue;
    std::string paste(kPiece * 2 + 123, '\0');
    for (std::size_t i = 0; i < paste.size(); ++i) paste[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(queue.Append("x", 1));
    ASSERT_TRUE(queue.Append("y", 1));
    ASSERT_TRUE(queue.Append(paste.data(), paste.size()));
    const auto items = Drain(queue);
    ASSERT_EQ(items.size(), 3u);
    for (const auto& item : items) EXPECT_LE(item.size(), kPiece);
    EXPECT_EQ(items[0].substr(0, 2), "xy");
    EXPECT_EQ(Joined(items), "xy" + paste);
}

// A size report keeps its place after the data queued before it; of several
// not yet taken in a row only the last is sent; it takes no room.
TEST(OutgoingQueue, SizeReportsKeepOrderAndCoalesce) {
    TOutgoingQueue queue(4);
    ASSERT_TRUE(queue.Append("ab", 2));
    ASSERT_TRUE(queue.RequestSize(COORD{80, 10}));
    ASSERT_TRUE(queue.RequestSize(COORD{100, 30}));
    ASSERT_TRUE(queue.Append("cd", 2));
    ASSERT_TRUE(queue.RequestSize(COORD{90, 20}));
    EXPECT_EQ(queue.Size(), 4u);
    EXPECT_EQ(Drain(queue), (std::vector<std::string>{"ab", "<100,30>", "cd", "<90,20>"}));
}

TEST(OutgoingQueue, CloseRefusesAndWakesTheWriter) {
    TOutgoingQueue queue;
    std::atomic<int> result{-1};
    TThread writer;
    writer.Start([&] {
        TOutgoingQueue::TItem item;
        result = queue.Take(item) ? 1 : 0;
    });
    usleep(20000);
    queue.Close();
    ASSERT_TRUE(EndsWithin(writer, 5000));
    writer.Join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(queue.Append("a", 1));
    EXPECT_FALSE(queue.RequestSize(COORD{1, 1}));
}

// Closing a session cancels its writer wherever it waits, the empty queue
// included.
TEST(OutgoingQueue, WriterWaitingOnEmptyQueueIsCancellable) {
    TOutgoingQueue queue;
    std::atomic<bool> returned{false};
    TThread writer;
    writer.Start([&] {
        TOutgoingQueue::TItem item;
        queue.Take(item);
        returned = true;  // not reached: the cancel unwinds Take
    });
    usleep(20000);
    writer.Cancel();
    ASSERT_TRUE(EndsWithin(writer, 5000));
    writer.Join();
    EXPECT_FALSE(returned.load());
}

// The input side never waits for a writer stuck on its peer: with the
// writer blocked inside a send (here: a lock the test holds, as a socket
// writer holds the send lock), appends go on until the queue is full, then
// are refused, all without blocking.
TEST(OutgoingQueue, InputNeverWaitsForStalledWriter) {
    TOutgoingQueue queue(1 << 20);
    TCriticalSection sendLock;
    sendLock.Enter();
    std::atomic<std::size_t> taken{0};
    TThread writer;
    writer.Start([&] {
        TOutgoingQueue::TItem item;
        while (queue.Take(item)) {
            taken += item.Bytes.size();
            TLockGuard stuck(sendLock);  // the peer never reads
        }
    });
    TThread input;
    std::atomic<int> accepted{0};
    std::atomic<int> refused{0};
    input.Start([&] {
        const std::string chunk(4096, 'k');
        for (int i = 0; i < 1000; ++i) {
            if (queue.Append(chunk.data(), chunk.size()))
                ++accepted;
            else
                ++refused;
        }
    });
    ASSERT_TRUE(EndsWithin(input, 10000)) << "an append waited for the writer";
    input.Join();
    EXPECT_GT(refused.load(), 0);
    // The writer holds at most one piece beyond the capacity.
    EXPECT_LE(static_cast<std::size_t>(accepted.load()) * 4096,
              queue.GetCapacity() + TOutgoingQueue::kMaxPiece);
    EXPECT_LE(queue.Size(), queue.GetCapacity());
    writer.Cancel();
    ASSERT_TRUE(EndsWithin(writer, 5000));
    writer.Join();
    sendLock.Leave();
}

// One producer, one consumer: the byte stream arrives complete and in order.
TEST(OutgoingQueue, ConcurrentStreamArrivesInOrder) {
    TOutgoingQueue queue(1 << 16);
    constexpr int kBlocks = 2000;
    std::string received;
    TThread writer;
    writer.Start([&] {
        TOutgoingQueue::TItem item;
        while (queue.Take(item)) {
            received += item.Bytes;
            if (received.size() >= std::size_t{kBlocks} * 97) return;
        }
    });
    std::string sent;
    for (int i = 0; i < kBlocks; ++i) {
        std::string block(97, static_cast<char>(i % 251));
        while (!queue.Append(block.data(), block.size())) usleep(100);
        sent += block;
    }
    ASSERT_TRUE(EndsWithin(writer, 20000));
    writer.Join();
    EXPECT_EQ(received, sent);
}
