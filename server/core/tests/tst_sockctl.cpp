// The socket control and its send queue over real loopback connections, on
// each event loop the platform has (the Qt front end's among them, on Linux).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackClient.h"
#include "Net.h"
#include "SockCtl.h"
#include "TestLoops.h"

namespace {

using namespace std::chrono_literals;
using kesmar::SockCtl;
using testing_loopback::Family;
using testing_loopback::LoopbackClient;

std::vector<std::uint8_t> block(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
    return b;
}

std::vector<std::uint8_t> repeated(const std::vector<std::uint8_t> &b, std::int64_t times)
{
    std::vector<std::uint8_t> all;
    for (std::int64_t i = 0; i < times; ++i)
        all.insert(all.end(), b.begin(), b.end());
    return all;
}

// Records the control's notifications; accepts every request unless told,
// ending listening first (Close) as the window does.
struct Events final : kesmar::SockCtlEvents
{
    SockCtl *ctl = nullptr;
    bool acceptRequests = true;
    std::int32_t readLimit = 0; // 0: GetData asks for what arrived
    std::vector<std::string> log;
    std::vector<std::uint8_t> read;
    std::vector<std::int32_t> requests;
    std::int64_t progressBytes = 0;
    int reports = 0;
    std::int32_t lastRemaining = -1;
    int completes = 0;
    int closes = 0;
    bool readOverLimit = false;

    void ConnectionRequest(std::int32_t requestID) override
    {
        requests.push_back(requestID);
        log.push_back("request");
        if (acceptRequests) {
            ctl->Close();
            ctl->Accept(requestID);
        }
    }
    void DataArrival(std::int32_t bytesTotal) override
    {
        log.push_back("data");
        const std::int32_t ask = readLimit > 0 ? readLimit : bytesTotal;
        std::vector<std::uint8_t> got{0xEE, 0xEE}; // replaced, not added to
        ctl->GetData(got, SockCtl::byteArrayType, ask);
        readOverLimit = readOverLimit || got.size() > static_cast<std::size_t>(ask) ||
                        got.size() > static_cast<std::size_t>(bytesTotal);
        read.insert(read.end(), got.begin(), got.end());
    }
    void PeerClose() override
    {
        log.push_back("close");
        ++closes;
    }
    void SendComplete() override { ++completes; }
    void SendProgress(std::int32_t bytesSent, std::int32_t bytesRemaining) override
    {
        progressBytes += bytesSent;
        ++reports;
        lastRemaining = bytesRemaining;
    }
};

// A control listening on a port of its own, with the window's options, and
// the loop named by the parameter.
class SockCtlOverLoopback : public testing::TestWithParam<std::string>
{
  protected:
    void SetUp() override
    {
        events.ctl = &ctl;
        ctl.setLocalPort(0);
        ctl.setSocketFlag(true);
        ctl.setReceiveBufferSize(32768);
        ctl.setSendBufferSize(32768);
        ctl.Listen();
        ASSERT_NE(port(), 0);
    }

    // Each Listen() on port 0 takes a port of its own.
    std::uint16_t port() const { return static_cast<std::uint16_t>(ctl.boundPort()); }

    void listenAgain()
    {
        ctl.Close();
        ctl.Listen();
    }

    bool runUntil(const std::function<bool()> &done) { return loop->runUntil(done); }

    void connectAndAccept(LoopbackClient &client, Family family = Family::v4, int receiveBuffer = 0)
    {
        ASSERT_TRUE(client.connect(port(), family, receiveBuffer)) << client.why();
        ASSERT_TRUE(runUntil([&] { return ctl.isConnected(); }));
    }

    std::unique_ptr<testing_loops::TestLoop> loop = testing_loops::makeLoop(GetParam());
    Events events;
    SockCtl ctl{loop->loop(), events};
};

struct Sends
{
    const char *name;
    std::vector<std::size_t> sizes; // one SendData each; equal sizes are equal blocks
};

const Sends sendRows[] = {
    {"NineByteBlocks", {9, 9, 9, 9, 9}},
    {"LargeBlocks", {300000, 300000, 300000}},
    {"PieceSizedBlocks", {16384, 16384, 16385, 16383}},
    {"AlternatingBlocks", {9, 9, 70000, 9, 70000, 70000, 9}},
};

TEST_P(SockCtlOverLoopback, BlocksArriveWholeAndProgressAddsUp)
{
    for (const Sends &row : sendRows) {
        SCOPED_TRACE(row.name);
        LoopbackClient client;
        connectAndAccept(client);
        events.progressBytes = 0;
        events.reports = 0;
        events.completes = 0;
        std::vector<std::uint8_t> expected;
        for (const std::size_t size : row.sizes) {
            const auto b = block(size, static_cast<std::uint8_t>(size));
            ctl.SendData(b);
            expected.insert(expected.end(), b.begin(), b.end());
        }
        ASSERT_TRUE(runUntil([&] {
            return client.hasReceived(expected.size()) && events.completes > 0;
        })) << client.received().size()
            << " of " << expected.size() << " bytes";
        EXPECT_EQ(client.received(), expected);
        EXPECT_EQ(events.progressBytes, static_cast<std::int64_t>(expected.size()));
        EXPECT_EQ(events.lastRemaining, 0);
        // Once per send and once per emptied queue, however many pieces.
        EXPECT_LE(events.reports, 2 * static_cast<int>(row.sizes.size()));
        EXPECT_EQ(ctl.bytesQueued(), 0);
        EXPECT_EQ(ctl.skippedSends(), 0);
        listenAgain();
    }
}

// A client that does not read: the limit holds, and what does arrive is
// whole copies in order.
TEST_P(SockCtlOverLoopback, BacklogIsBoundedInWholeCopies)
{
    for (const std::int64_t limit : {1, 3}) {
        SCOPED_TRACE("backlog limit " + std::to_string(limit));
        LoopbackClient client;
        connectAndAccept(client, Family::v4, 4096);
        ctl.setBacklogLimit(limit);
        const std::int64_t skipped0 = ctl.skippedSends();
        const std::int64_t sent0 = ctl.sentCopies();
        const auto b = block(64 * 1024, 1);
        constexpr int sends = 40;
        for (int i = 0; i < sends; ++i) {
            ctl.SendData(b);
            EXPECT_LE(ctl.copiesWaiting(), limit);
            EXPECT_LE(ctl.bytesQueued(), (limit + 1) * static_cast<std::int64_t>(b.size()));
            loop->runFor(2ms);
        }
        const std::int64_t skipped = ctl.skippedSends() - skipped0;
        EXPECT_GT(skipped, 0);
        const std::int64_t kept = sends - skipped;
        const auto want = static_cast<std::size_t>(kept) * b.size();
        ASSERT_TRUE(runUntil([&] { return client.hasReceived(want); }))
            << client.received().size() << " of " << want << " bytes";
        EXPECT_EQ(client.received(), repeated(b, kept));
        EXPECT_EQ(ctl.sentCopies() - sent0, kept);
        listenAgain();
    }
}

TEST_P(SockCtlOverLoopback, GetDataReadsAtMostWhatItIsAskedFor)
{
    for (const std::int32_t limit : {1, 10, 8209}) {
        SCOPED_TRACE("read limit " + std::to_string(limit));
        LoopbackClient client;
        connectAndAccept(client);
        events.read.clear();
        events.readLimit = limit;
        const auto sent = block(100, 3);
        client.send(sent);
        ASSERT_TRUE(runUntil([&] { return events.read.size() >= sent.size(); }))
            << events.read.size() << " of " << sent.size() << " bytes read";
        EXPECT_EQ(events.read, sent);
        EXPECT_FALSE(events.readOverLimit);
        listenAgain();
    }
    std::vector<std::uint8_t> text{1, 2, 3};
    EXPECT_THROW(ctl.GetData(text, 8, 10), kesmar::SockCtlError);
}

// A client that sends without pause is read in turns, no more often than
// readTurnUs, and blocks that must wait for room between turns still reach
// it whole.
TEST_P(SockCtlOverLoopback, FloodIsReadInTurnsAndBlocksStillGoOut)
{
    LoopbackClient client;
    connectAndAccept(client);
    const std::vector<std::uint8_t> chunk(64 * 1024, 'f');
    const auto b = block(300000, 5);
    const std::int64_t started = loop->loop().nowNs();
    for (int i = 0; i < 3; ++i)
        ctl.SendData(b);
    ASSERT_TRUE(runUntil([&] {
        while (client.offer(chunk) == chunk.size()) {
        }
        return client.hasReceived(3 * b.size());
    })) << client.received().size()
        << " of " << 3 * b.size() << " bytes";
    EXPECT_EQ(client.received(), repeated(b, 3));
    const auto turns = std::count(events.log.begin(), events.log.end(), "data");
    EXPECT_GT(turns, 0);
    EXPECT_LE(turns, (loop->loop().nowNs() - started) / (SockCtl::readTurnUs * 1000) + 1);
}

TEST_P(SockCtlOverLoopback, BytesSentBeforeTheAcceptAreReported)
{
    LoopbackClient client;
    ASSERT_TRUE(client.connect(port())) << client.why();
    const auto sent = block(16, 9);
    client.send(sent);
    ASSERT_TRUE(runUntil([&] { return events.read.size() >= sent.size(); }));
    EXPECT_EQ(events.read, sent);
}

enum class Ending { Close, HalfClose, Reset };

TEST_P(SockCtlOverLoopback, PeerCloseComesOnceAfterTheData)
{
    for (const Ending ending : {Ending::Close, Ending::HalfClose, Ending::Reset}) {
        SCOPED_TRACE(ending == Ending::Close       ? "close"
                     : ending == Ending::HalfClose ? "half close"
                                                   : "reset");
        LoopbackClient client;
        connectAndAccept(client);
        events.log.clear();
        events.read.clear();
        events.closes = 0;
        const auto sent = block(16, 5);
        client.send(sent);
        if (ending != Ending::Reset) {
            ASSERT_TRUE(runUntil([&] { return events.read.size() >= sent.size(); }));
        }
        switch (ending) {
        case Ending::Close:
            client.close();
            break;
        case Ending::HalfClose:
            client.shutdownSend();
            break;
        case Ending::Reset:
            client.reset();
            break;
        }
        ASSERT_TRUE(runUntil([&] { return events.closes > 0; }));
        // Word left over from the old connection must not raise another.
        loop->runFor(50ms);
        EXPECT_EQ(events.closes, 1);
        EXPECT_EQ(events.log.back(), "close");
        EXPECT_FALSE(ctl.isConnected());
        if (ending != Ending::Reset) {
            EXPECT_EQ(events.read, sent);
        }
        ctl.Listen();
    }
}

TEST_P(SockCtlOverLoopback, RequestNotAcceptedIsTurnedAway)
{
    events.acceptRequests = false;
    LoopbackClient refused;
    ASSERT_TRUE(refused.connect(port())) << refused.why();
    ASSERT_TRUE(runUntil([&] { return refused.hasEnded(); }));
    EXPECT_TRUE(ctl.isListening());
    EXPECT_FALSE(ctl.isConnected());

    events.acceptRequests = true;
    LoopbackClient next;
    connectAndAccept(next);
    EXPECT_EQ(events.requests, (std::vector<std::int32_t>{1, 2}));
}

TEST_P(SockCtlOverLoopback, ClientsOfEitherFamilyAreServed)
{
    for (const Family family : {Family::v4, Family::v6}) {
        SCOPED_TRACE(family == Family::v4 ? "127.0.0.1" : "::1");
        LoopbackClient client;
        if (!client.connect(port(), family)) {
            if (family == Family::v6)
                GTEST_SKIP() << "no IPv6 loopback here: " << client.why();
            FAIL() << client.why();
        }
        ASSERT_TRUE(runUntil([&] { return ctl.isConnected(); }));
        const auto b = block(9, 0);
        ctl.SendData(b);
        ASSERT_TRUE(runUntil([&] { return client.hasReceived(b.size()); }));
        EXPECT_EQ(client.received(), b);
        listenAgain();
    }
}

// One client at a time: no longer listening while one is served. The
// control's own Close ends the connection and raises nothing.
TEST_P(SockCtlOverLoopback, ServesOneAtATimeAndItsOwnCloseRaisesNothing)
{
    LoopbackClient client;
    connectAndAccept(client);
    EXPECT_FALSE(ctl.isListening());
    ctl.Close();
    EXPECT_FALSE(ctl.isConnected());
    EXPECT_TRUE(runUntil([&] { return client.hasEnded(); }));
    loop->runFor(50ms);
    EXPECT_EQ(events.closes, 0);
}

// Its report of the send is still posted when it goes (a sanitizer build
// sees a call that reaches it anyway).
TEST_P(SockCtlOverLoopback, ControlGoneWithAReportPostedIsLeftAlone)
{
    Events gone;
    auto doomed = std::make_unique<SockCtl>(loop->loop(), gone);
    gone.ctl = doomed.get();
    doomed->setLocalPort(0);
    doomed->Listen();
    LoopbackClient client;
    ASSERT_TRUE(client.connect(static_cast<std::uint16_t>(doomed->boundPort()), Family::v4))
        << client.why();
    ASSERT_TRUE(runUntil([&] { return doomed->isConnected(); }));
    doomed->SendData(block(9, 1));
    doomed.reset();
    loop->runFor(50ms);
    EXPECT_EQ(gone.reports, 0);
}

TEST_P(SockCtlOverLoopback, SendWithoutAConnectionDoesNothing)
{
    ctl.SendData(block(100, 1));
    ctl.SendData({});
    loop->runFor(20ms);
    EXPECT_EQ(events.reports, 0);
    EXPECT_EQ(ctl.bytesQueued(), 0);
    EXPECT_EQ(ctl.skippedSends(), 0);
}

TEST_P(SockCtlOverLoopback, OptionsReachTheConnection)
{
    LoopbackClient client;
    connectAndAccept(client);
    const kesmar::net::Socket s = ctl.connection();
    EXPECT_TRUE(kesmar::net::noDelay(s));
    // Linux reports twice the size asked for, for its bookkeeping.
    for (const int size : {kesmar::net::sendBufferSize(s), kesmar::net::receiveBufferSize(s)}) {
        EXPECT_GE(size, 32768);
        EXPECT_LE(size, 2 * 32768);
    }
}

INSTANTIATE_TEST_SUITE_P(Loops, SockCtlOverLoopback, testing::ValuesIn(testing_loops::loopKinds()),
                         [](const auto &info) { return info.param; });

} // namespace
