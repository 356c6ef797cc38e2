// The socket control and its send queue over real loopback connections, on
// each event loop the platform has.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackClient.h"
#include "SockCtl.h"
#include "TestLoops.h"

namespace {

using namespace std::chrono_literals;
using kesmar::SockCtl;
using testing_loopback::Family;
using testing_loopback::LoopbackClient;

constexpr auto patience = 10s;

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

// Records the control's notifications; accepts every request unless told.
struct Events final : kesmar::SockCtlEvents
{
    SockCtl *ctl = nullptr;
    bool acceptRequests = true;
    bool listenAgainOnClose = false; // as the window's handler does
    std::int32_t readLimit = 0;      // 0: GetData asks for what arrived
    std::vector<std::string> log;
    std::vector<std::uint8_t> read;
    std::vector<std::int32_t> requests;
    std::int64_t progressBytes = 0;
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
        std::vector<std::uint8_t> got;
        ctl->GetData(got, SockCtl::byteArrayType, ask);
        readOverLimit = readOverLimit || got.size() > static_cast<std::size_t>(ask) ||
                        got.size() > static_cast<std::size_t>(bytesTotal);
        read.insert(read.end(), got.begin(), got.end());
    }
    void PeerClose() override
    {
        log.push_back("close");
        ++closes;
        if (listenAgainOnClose) {
            ctl->Close();
            ctl->Listen();
        }
    }
    void SendComplete() override { ++completes; }
    void SendProgress(std::int32_t bytesSent, std::int32_t bytesRemaining) override
    {
        progressBytes += bytesSent;
        lastRemaining = bytesRemaining;
    }
};

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

    bool runUntil(const std::function<bool()> &done) { return loop->runUntil(done, patience); }

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
        events.completes = 0;
        std::vector<std::uint8_t> expected;
        for (const std::size_t size : row.sizes) {
            const auto b = block(size, static_cast<std::uint8_t>(size));
            ctl.SendData(b);
            expected.insert(expected.end(), b.begin(), b.end());
        }
        ASSERT_TRUE(runUntil([&] {
            client.pump();
            return client.received().size() >= expected.size() && events.completes > 0;
        })) << client.received().size()
            << " of " << expected.size() << " bytes";
        EXPECT_EQ(client.received(), expected);
        EXPECT_EQ(events.progressBytes, static_cast<std::int64_t>(expected.size()));
        EXPECT_EQ(events.lastRemaining, 0);
        EXPECT_EQ(ctl.bytesQueued(), 0);
        listenAgain();
    }
}

TEST_P(SockCtlOverLoopback, BacklogIsBoundedInWholeCopies)
{
    LoopbackClient client;
    connectAndAccept(client, Family::v4, 4096);
    constexpr std::int64_t limit = 3;
    ctl.setBacklogLimit(limit);
    const auto b = block(64 * 1024, 1);
    constexpr int sends = 40;
    for (int i = 0; i < sends; ++i) {
        ctl.SendData(b);
        EXPECT_LE(ctl.copiesWaiting(), limit);
        EXPECT_LE(ctl.bytesQueued(), (limit + 1) * static_cast<std::int64_t>(b.size()));
        loop->runUntil([] { return false; }, 2ms);
    }
    EXPECT_GT(ctl.skippedSends(), 0);
    const std::int64_t kept = sends - ctl.skippedSends();
    const auto want = static_cast<std::size_t>(kept) * b.size();
    ASSERT_TRUE(runUntil([&] {
        client.pump();
        return client.received().size() >= want;
    })) << client.received().size()
        << " of " << want << " bytes";
    EXPECT_EQ(client.received(), repeated(b, kept));
    EXPECT_EQ(ctl.sentCopies(), kept);
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
        loop->runUntil([] { return false; }, 50ms);
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
    ASSERT_TRUE(runUntil([&] {
        refused.pump();
        return refused.ended();
    }));
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
        ASSERT_TRUE(runUntil([&] {
            client.pump();
            return client.received().size() >= b.size();
        }));
        EXPECT_EQ(client.received(), b);
        listenAgain();
    }
}

// A port probe, or a health check, then the client itself at once, as test
// code waits for a port: the client is served, not reset with the port.
// "Queued" has both connections waiting before the control looks; "Behind"
// has the probe taken first and closing only then, with the client right
// behind it.
TEST_P(SockCtlOverLoopback, ClientRightBehindAProbeThatHasGoneIsServed)
{
    events.listenAgainOnClose = true;
    const std::vector<std::uint8_t> request{'G', 'E', 'T', ' ', '/', '\r', '\n', '\r', '\n'};
    std::int32_t served = 0;
    for (const bool queued : {true, false}) {
        for (const bool withData : {false, true}) {
            SCOPED_TRACE(std::string(queued ? "queued" : "behind") +
                         (withData ? ", probe sends first" : ", bare probe"));
            const auto requestsBefore = events.requests.size();
            events.log.clear();
            LoopbackClient probe;
            ASSERT_TRUE(probe.connect(port())) << probe.why();
            if (!queued) {
                ASSERT_TRUE(runUntil([&] { return ctl.isConnected(); }));
            }
            if (withData)
                probe.send(request);
            probe.close();
            LoopbackClient client;
            ASSERT_TRUE(client.connect(port())) << client.why();
            ASSERT_TRUE(runUntil([&] {
                return events.requests.size() == requestsBefore + 2 && ctl.isConnected();
            })) << events.requests.size() - requestsBefore
                << " requests";
            const auto b = block(9, 4);
            ctl.SendData(b);
            ASSERT_TRUE(runUntil([&] {
                client.pump();
                return client.received().size() >= b.size() || client.ended();
            }));
            EXPECT_EQ(client.received(), b);
            EXPECT_FALSE(client.ended());
            EXPECT_EQ(events.log.back(), "request");
            EXPECT_EQ(events.log.front(), "request");
            EXPECT_EQ(std::count(events.log.begin(), events.log.end(), "close"), 1);
            ++served;
            client.close();
            ASSERT_TRUE(runUntil([&] { return ctl.isListening(); }));
        }
    }
    EXPECT_EQ(served, 4);
}

// Clients that connect together behind a live one: it is served, and the
// others are turned away within the grace, none left connected to nothing.
TEST_P(SockCtlOverLoopback, ClientsBehindALiveOneAreTurnedAway)
{
    events.listenAgainOnClose = true;
    LoopbackClient first, second, third;
    for (LoopbackClient *c : {&first, &second, &third})
        ASSERT_TRUE(c->connect(port())) << c->why();
    ASSERT_TRUE(runUntil([&] {
        second.pump();
        third.pump();
        return second.ended() && third.ended();
    }));
    EXPECT_EQ(events.requests.size(), 1u);
    EXPECT_EQ(ctl.connectionsHeld(), 0u);
    EXPECT_FALSE(ctl.isListening());
    const auto b = block(9, 6);
    ctl.SendData(b);
    ASSERT_TRUE(runUntil([&] {
        first.pump();
        return first.received().size() >= b.size();
    }));
    EXPECT_FALSE(first.ended());
    EXPECT_TRUE(second.received().empty());
    EXPECT_TRUE(third.received().empty());
}

INSTANTIATE_TEST_SUITE_P(Loops, SockCtlOverLoopback, testing::ValuesIn(testing_loops::loopKinds()),
                         [](const auto &info) { return info.param; });

} // namespace
