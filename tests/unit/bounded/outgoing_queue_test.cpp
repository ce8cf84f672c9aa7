#include "net/outgoing_queue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "../base/case_file.h"
#include "../platform/bounded_wait.h"

// Appends and size reports as tests/data/bounded/outgoing_queue.cases
// lists them; what the writer then takes, in order; taking makes room again.
TEST(OutgoingQueue, Cases) {
    for (const TCase& c : ReadCases("bounded/outgoing_queue.cases")) {
        SCOPED_TRACE(c.where + ": " + c[0]);
        TOutgoingQueue queue(c[1] == "default" ? TOutgoingQueue::kDefaultCapacity
                                               : static_cast<std::size_t>(Num(c[1])));
        const std::vector<std::string> steps = Words(c[2]), accepted = Words(c[3]);
        std::string expected;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            COORD size{};
            if (std::sscanf(steps[i].c_str(), "<%hd,%hd>", &size.X, &size.Y) == 2) {
                EXPECT_EQ(queue.RequestSize(size), accepted.at(i) == "1") << i;
                continue;
            }
            std::string bytes(static_cast<std::size_t>(Num(steps[i])), '\0');
            for (std::size_t j = 0; j < bytes.size(); ++j)
                bytes[j] = static_cast<char>(i * 31 + j * 7 + j / 251);
            EXPECT_EQ(queue.Append(bytes.data(), bytes.size()), accepted.at(i) == "1") << i;
            if (accepted[i] == "1") expected += bytes;
        }
        EXPECT_EQ(queue.Size(), static_cast<std::size_t>(Num(c[4])));
        std::ostringstream taken;
        std::string joined;
        TOutgoingQueue::TItem item;
        while (!queue.Empty() && queue.Take(item)) {
            if (item.IsSize) taken << '<' << item.Size.X << ',' << item.Size.Y << "> ";
            if (!item.IsSize) taken << item.Bytes.size() << ' ';
            joined += item.Bytes;
        }
        EXPECT_EQ(taken.str(), c.size() > 5 ? c[5] + " " : "");
        EXPECT_TRUE(joined == expected);
        EXPECT_TRUE(queue.Append(expected.data(), expected.size()));
    }
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
    ASSERT_TRUE(WaitUntil([&] { return writer.Finished(); }));
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
    ASSERT_TRUE(WaitUntil([&] { return input.Finished(); }, 10000))
        << "an append waited for the writer";
    input.Join();
    EXPECT_LT(accepted.load(), 1000);
    // The writer holds at most one piece beyond the capacity.
    EXPECT_LE(static_cast<std::size_t>(accepted.load()) * 4096,
              queue.GetCapacity() + TOutgoingQueue::kMaxPiece);
    writer.Cancel();
    ASSERT_TRUE(WaitUntil([&] { return writer.Finished(); }));
    writer.Join();
    sendLock.Leave();
}
