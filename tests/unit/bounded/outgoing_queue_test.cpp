#include "net/outgoing_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../base/case_file.h"
#include "../platform/bounded_wait.h"

namespace {

// What the writer would take, in order: data as its bytes, sizes as "<X,Y>".
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
        EXPECT_TRUE(queue.Append(expected.data(), expected.size()));
    }
}

// Pieces stay at most kMaxPiece bytes (what is out of the queue but unsent
// stays small), keys typed one by one share a piece, a split paste keeps
// its order; a size report keeps its place after the data before it, of
// several in a row only the last is sent, and it takes no room.
TEST(OutgoingQueue, PiecesAndSizeReportsKeepTheirOrder) {
    TOutgoingQueue queue;
    std::string paste(TOutgoingQueue::kMaxPiece * 2 + 123, '\0');
    for (std::size_t i = 0; i < paste.size(); ++i) paste[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(queue.Append("x", 1));
    ASSERT_TRUE(queue.Append("y", 1));
    ASSERT_TRUE(queue.Append(paste.data(), paste.size()));
    const auto items = Drain(queue);
    ASSERT_EQ(items.size(), 3u);
    for (const auto& item : items) EXPECT_LE(item.size(), TOutgoingQueue::kMaxPiece);
    EXPECT_EQ(Joined(items), "xy" + paste);

    TOutgoingQueue small(4);
    ASSERT_TRUE(small.Append("ab", 2));
    ASSERT_TRUE(small.RequestSize(COORD{80, 10}));
    ASSERT_TRUE(small.RequestSize(COORD{100, 30}));
    ASSERT_TRUE(small.Append("cd", 2));
    ASSERT_TRUE(small.RequestSize(COORD{90, 20}));
    EXPECT_EQ(small.Size(), 4u);
    EXPECT_EQ(Drain(small), (std::vector<std::string>{"ab", "<100,30>", "cd", "<90,20>"}));
}

// Closing a session ends its writer wherever it waits: a cancel unwinds a
// Take on the empty queue, a close makes it return false and refuses more.
TEST(OutgoingQueue, CancelAndCloseEndTheWriter) {
    TOutgoingQueue queue;
    TOutgoingQueue::TItem item;
    ExpectCancelUnwinds([&] { queue.Take(item); });

    std::atomic<int> result{-1};
    TThread writer;
    writer.Start([&] { result = queue.Take(item) ? 1 : 0; });
    queue.Close();
    ASSERT_TRUE(EndsWithin(writer));
    writer.Join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(queue.Append("a", 1));
    EXPECT_FALSE(queue.RequestSize(COORD{1, 1}));
}

// The input side never waits for a writer stuck on its peer (here: on a lock
// the test holds, as a socket writer holds the send lock): appends go on
// until the queue is full, then are refused.
TEST(OutgoingQueue, InputNeverWaitsForStalledWriter) {
    TOutgoingQueue queue(1 << 20);
    TCriticalSection sendLock;
    sendLock.Enter();
    TThread writer;
    writer.Start([&] {
        TOutgoingQueue::TItem item;
        while (queue.Take(item)) TLockGuard stuck(sendLock);
    });
    TThread input;
    std::atomic<int> accepted{0};
    input.Start([&] {
        const std::string chunk(4096, 'k');
        for (int i = 0; i < 1000; ++i) accepted += queue.Append(chunk.data(), chunk.size());
    });
    ASSERT_TRUE(EndsWithin(input, 10000)) << "an append waited for the writer";
    input.Join();
    EXPECT_LT(accepted.load(), 1000);
    // The writer holds at most one piece beyond the capacity.
    EXPECT_LE(static_cast<std::size_t>(accepted.load()) * 4096,
              queue.GetCapacity() + TOutgoingQueue::kMaxPiece);
    writer.Cancel();
    ASSERT_TRUE(EndsWithin(writer));
    writer.Join();
    sendLock.Leave();
}
