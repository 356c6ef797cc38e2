// frmMain's handlers behind fake controls: start-up, the log lines and
// dumps that real loopback clients cause on port 20319, the buttons, the
// send button's tip, clients that flood the server or queue together, and
// a start-up that cannot go on; on each event loop the platform has (the Qt
// front end's among them, on Linux). How each front end's own controls reach
// these handlers is its own suites' business.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "Controls.h"
#include "LoopbackClient.h"
#include "TestLoops.h"
#include "frmMainHandlers.h"

namespace {

using namespace std::chrono_literals;
using kesmar::frmMainHandlers;
using testing_loopback::LoopbackClient;
const std::string samplePattern =
    "sync,0,0,8,170\r\nlength,0,0,16,4660\r\ncounter,0,0,32,16909060\r\ndelta,0,0,16,-2\r\n";
const std::vector<std::uint8_t> sampleBytes{0xAA, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01, 0xFE, 0xFF};

struct FakeCheckBox final : kesmar::CheckBox
{
    int checked = 0;
    int value() const override { return checked; }
};

struct FakeButton final : kesmar::Button
{
    std::string caption = "送信";
    void setCaption(std::string_view text) override { caption = text; }
};

// Raises its value-change notification for a value the program sets, as
// both front ends' sliders do.
struct FakeSlider final : kesmar::PeriodSlider
{
    std::int32_t current = 0;
    std::function<void()> changed;
    std::int32_t value() const override { return current; }
    void setValue(std::int32_t v) override
    {
        if (v == current)
            return;
        current = v;
        if (changed)
            changed();
    }
};

struct FakePane final : kesmar::TextPane
{
    std::string text;
    int clears = 0;
    void appendText(std::string_view t) override { text += t; }
    void clearText() override
    {
        text.clear();
        ++clears;
    }
};

// A test.txt of its own per test, removed with it.
class PatternFile
{
  public:
    explicit PatternFile(const std::string *content)
    {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() /
                ("kesmar-test-" + std::to_string(random()) + ".txt");
        if (content)
            std::ofstream(path_, std::ios::binary) << *content;
    }
    ~PatternFile()
    {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    const std::filesystem::path &path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The window as the handlers see it; the controls come first, as the
// handlers hold on to them.
struct Form
{
    explicit Form(kesmar::EventLoop &loop)
        : handlers({chkEvent, chkDump, txtStat, txtDump, cmdSend, sldPeriod}, loop)
    {
        sldPeriod.changed = [this] { handlers.applyPeriod(); };
    }

    FakeCheckBox chkEvent, chkDump;
    FakePane txtStat, txtDump;
    FakeButton cmdSend;
    FakeSlider sldPeriod;
    frmMainHandlers handlers;
};

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            out.push_back(text.substr(at) + " <no CR LF>");
            break;
        }
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

int countStarting(const std::string &log, std::string_view label)
{
    int n = 0;
    for (const std::string &line : lines(log))
        n += line.starts_with(label);
    return n;
}

// Each log line by its kind, "?" for one that matches none.
std::vector<std::string> kinds(const std::string &log)
{
    static const std::pair<const char *, std::regex> shapes[] = {
        {"Accept", std::regex("Accept requestID = [1-9][0-9]* -?[0-9]+")},
        {"Receive", std::regex("Receive 16 -?[0-9]+")},
        // Whole blocks: a report may cover two sends when a tick came due
        // before the first one's report ran (seen under Wine on a busy machine).
        {"Send", std::regex("Send (9|18|27|36) -?[0-9]+")},
        {"Close", std::regex("Close -?[0-9]+")},
    };
    std::vector<std::string> out;
    for (const std::string &line : lines(log)) {
        std::string kind = "? " + line;
        for (const auto &[name, shape] : shapes)
            if (std::regex_match(line, shape))
                kind = name;
        // A run of "Send" lines counts once: how many depends on timing.
        if (!(kind == "Send" && !out.empty() && out.back() == "Send"))
            out.push_back(kind);
    }
    return out;
}

std::string dumpOf(std::vector<std::uint8_t> eight)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < eight.size(); ++i) {
        if (i % 4 == 0)
            out += (i == 0 ? "0000 :" : "0001 :");
        out += ' ';
        out += hex[eight[i] >> 4];
        out += hex[eight[i] & 0xF];
        if (i % 4 == 3)
            out += "\r\n";
    }
    return out + "\r\n";
}

// Buttons and the slider, which need no socket.
TEST(frmMainHandlers, SendButtonTogglesSendingAndItsCaption)
{
    testing_loops::FakeLoop loop;
    Form form(loop);
    const std::pair<bool, const char *> afterClick[] = {
        {true, "停止"}, {false, "送信"}, {true, "停止"}};
    for (const auto &[on, caption] : afterClick) {
        form.handlers.toggleSending();
        EXPECT_EQ(form.handlers.tmr1.enabled(), on);
        EXPECT_EQ(form.cmdSend.caption, caption);
    }
}

TEST(frmMainHandlers, SliderSetsThePeriodAndLeavesSendingAlone)
{
    testing_loops::FakeLoop loop;
    Form form(loop);
    for (const bool on : {false, true}) {
        if (on)
            form.handlers.toggleSending();
        for (const std::int32_t period : {250, 0, 1000, 10}) {
            form.sldPeriod.setValue(period);
            EXPECT_EQ(form.handlers.tmr1.interval(), period);
            EXPECT_EQ(form.handlers.tmr1.enabled(), on);
        }
    }
}

TEST(frmMainHandlers, ClearEmptiesBothPanes)
{
    testing_loops::FakeLoop loop;
    Form form(loop);
    form.txtStat.appendText("Close 5\r\n");
    form.handlers.dump(sampleBytes, 8);
    form.handlers.clearPanes();
    EXPECT_EQ(form.txtStat.text, "");
    EXPECT_EQ(form.txtDump.text, "");
    EXPECT_EQ(form.txtStat.clears, 1);
    EXPECT_EQ(form.txtDump.clears, 1);
}

// A pattern without records starts the server as any other; the send
// button's tip says why nothing is then sent, before and after 送信.
struct TipStart
{
    const char *name;
    const char *content;
    const char *firstLine;
};

const TipStart tipStarts[] = {
    {"OneRecord", "x,0,0,16,1\r\n", "ブロック 2 バイト"},
    {"EmptyFile", "", "ブロック 0 バイト: 送るものがありません"},
    {"BareByteOrderMark", "\xEF\xBB\xBF", "ブロック 0 バイト: 送るものがありません"},
};

void PrintTo(const TipStart &t, std::ostream *os)
{
    *os << t.name;
}

class frmMainSendTip : public testing::TestWithParam<TipStart>
{
};

TEST_P(frmMainSendTip, FirstLineGivesTheBlockSize)
{
    const std::string content = GetParam().content;
    const PatternFile file(&content);
    testing_loops::FakeLoop loop;
    Form form(loop);
    form.handlers.load(file.path());
    EXPECT_TRUE(form.handlers.askServer.isListening());
    const auto firstLine = [&] {
        const std::string tip = form.handlers.sendTip();
        return tip.substr(0, tip.find('\n'));
    };
    EXPECT_EQ(firstLine(), GetParam().firstLine);
    form.handlers.toggleSending();
    EXPECT_EQ(firstLine(), GetParam().firstLine);
}

INSTANTIATE_TEST_SUITE_P(Patterns, frmMainSendTip, testing::ValuesIn(tipStarts),
                         [](const auto &info) { return std::string(info.param.name); });

// A pattern that cannot be used ends the program with its message before
// any socket is made.
struct BadStart
{
    const char *name;
    const char *content; // nullptr: there is no file
    const char *message;
};

const BadStart badStarts[] = {
    {"BitWidth", "sync,0,0,8,170\r\nodd,0,0,12,1\r\n", "line 2: bit width 12 is not 8, 16 or 32"},
    {"NoFile", nullptr, "cannot open "},
};

void PrintTo(const BadStart &b, std::ostream *os)
{
    *os << b.name;
}

class frmMainBadStart : public testing::TestWithParam<BadStart>
{
};

TEST_P(frmMainBadStart, EndsWithTheMessageAndStatus1)
{
    const BadStart &row = GetParam();
    const std::string content = row.content ? row.content : "";
    const PatternFile file(row.content ? &content : nullptr);
    testing_loops::FakeLoop loop;
    Form form(loop);
    EXPECT_EXIT(form.handlers.load(file.path()), testing::ExitedWithCode(1), row.message);
}

INSTANTIATE_TEST_SUITE_P(Patterns, frmMainBadStart, testing::ValuesIn(badStarts),
                         [](const auto &info) { return std::string(info.param.name); });

// The window's handlers serving port 20319 from the sample pattern, on the
// loop the parameter names.
const std::string &loopKind(const std::string &kind)
{
    return kind;
}

template <class Param> const std::string &loopKind(const std::tuple<std::string, Param> &param)
{
    return std::get<0>(param);
}

template <class Param> class OverLoopback : public testing::TestWithParam<Param>
{
  protected:
    bool runUntil(const std::function<bool()> &done) { return loop->runUntil(done); }
    kesmar::SockCtl &askServer() { return form.handlers.askServer; }

    const PatternFile file{&samplePattern};
    std::unique_ptr<testing_loops::TestLoop> loop =
        testing_loops::makeLoop(loopKind(this->GetParam()));
    Form form{loop->loop()};
};

// What clients cause, for each setting of the two check boxes.
struct Boxes
{
    int chkEvent;
    int chkDump;
};

void PrintTo(const Boxes &b, std::ostream *os)
{
    *os << "chkEvent " << b.chkEvent << ", chkDump " << b.chkDump;
}

class frmMainOverLoopback : public OverLoopback<std::tuple<std::string, Boxes>>
{
  protected:
    void SetUp() override
    {
        form.chkEvent.checked = std::get<1>(GetParam()).chkEvent;
        form.chkDump.checked = std::get<1>(GetParam()).chkDump;
        form.handlers.load(file.path());
    }
};

// Start-up, two clients in turn while sending is on, then the unload.
TEST_P(frmMainOverLoopback, LogsAndDumpsTwoClientsInTurn)
{
    const bool logged = form.chkEvent.checked == 0;
    const bool dumped = form.chkDump.checked == 1;
    kesmar::SockCtl &askServer = this->askServer();
    EXPECT_EQ(form.handlers.pattern(), sampleBytes);
    EXPECT_TRUE(askServer.isListening());
    EXPECT_EQ(askServer.boundPort(), 20319);
    EXPECT_EQ(form.handlers.tmr1.interval(), 1000);
    EXPECT_FALSE(form.handlers.tmr1.enabled());

    LoopbackClient first;
    ASSERT_TRUE(first.connect(20319)) << first.why();
    ASSERT_TRUE(runUntil([&] { return askServer.isConnected(); }));

    // Not served while the first one is.
    LoopbackClient second;
    if (second.connect(20319)) {
        EXPECT_TRUE(runUntil([&] { return second.hasEnded(); }));
    }

    std::vector<std::uint8_t> sixteen(16);
    for (std::size_t i = 0; i < sixteen.size(); ++i)
        sixteen[i] = static_cast<std::uint8_t>(i);
    first.send(sixteen);
    if (logged || dumped) {
        ASSERT_TRUE(runUntil(
            [&] { return kinds(form.txtStat.text).size() > 1 || !form.txtDump.text.empty(); }));
    } else {
        loop->runFor(200ms);
    }

    form.sldPeriod.setValue(10);
    form.handlers.toggleSending();
    ASSERT_TRUE(runUntil([&] { return first.hasReceived(3 * sampleBytes.size()); }));
    first.close();
    ASSERT_TRUE(runUntil([&] { return askServer.isListening(); }));

    LoopbackClient next;
    ASSERT_TRUE(next.connect(20319)) << next.why();
    ASSERT_TRUE(runUntil([&] { return next.hasReceived(2 * sampleBytes.size()); }));
    EXPECT_TRUE(form.handlers.tmr1.enabled());
    for (const LoopbackClient *c : {&first, &next}) {
        const std::size_t blocks = c->received().size() / sampleBytes.size();
        std::vector<std::uint8_t> whole;
        for (std::size_t i = 0; i < blocks; ++i)
            whole.insert(whole.end(), sampleBytes.begin(), sampleBytes.end());
        EXPECT_EQ(c->received(), whole);
    }

    form.handlers.unload();
    form.handlers.unload();
    EXPECT_EQ(form.handlers.unloadCount(), 1);
    EXPECT_FALSE(askServer.isListening());
    EXPECT_FALSE(askServer.isConnected());
    EXPECT_TRUE(runUntil([&] { return next.hasEnded(); }));

    const std::vector<std::string> all{"Accept", "Receive", "Send", "Close", "Accept", "Send"};
    const std::vector<std::string> acceptsOnly{"Accept", "Accept"};
    EXPECT_EQ(kinds(form.txtStat.text), logged ? all : acceptsOnly) << form.txtStat.text;
    EXPECT_NE(form.txtStat.text.find("Accept requestID = 2 "), std::string::npos);

    std::string dumps;
    if (dumped) {
        dumps = dumpOf({sixteen.begin(), sixteen.begin() + 8});
        for (std::int64_t i = 0; i < form.handlers.tmr1.ticks(); ++i)
            dumps += dumpOf({sampleBytes.begin(), sampleBytes.begin() + 8});
    }
    EXPECT_EQ(form.txtDump.text, dumps);
}

const Boxes boxSettings[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};

INSTANTIATE_TEST_SUITE_P(Loops, frmMainOverLoopback,
                         testing::Combine(testing::ValuesIn(testing_loops::loopKinds()),
                                          testing::ValuesIn(boxSettings)),
                         [](const auto &info) {
                             const Boxes &b = std::get<1>(info.param);
                             return std::get<0>(info.param) + "_chkEvent" +
                                    std::to_string(b.chkEvent) + "_chkDump" +
                                    std::to_string(b.chkDump);
                         });

// With the connection events hidden, so that long runs log little.
class frmMainServing : public OverLoopback<std::string>
{
  protected:
    void SetUp() override
    {
        form.chkEvent.checked = 1;
        form.handlers.load(file.path());
    }

    // A client of port 20319 that the server has taken on.
    void connectAndAccept(LoopbackClient &client)
    {
        ASSERT_TRUE(client.connect(20319)) << client.why();
        ASSERT_TRUE(runUntil([&] { return askServer().isConnected(); }));
    }

    void startSending(std::int32_t periodMs)
    {
        form.sldPeriod.setValue(periodMs);
        form.handlers.toggleSending();
    }
};

bool contains(const std::string &text, std::string_view part)
{
    return text.find(part) != std::string::npos;
}

// The send button's tip counts what was sent since sending was last
// switched on.
TEST_P(frmMainServing, SendTipCountsSinceSwitchedOn)
{
    EXPECT_EQ(form.handlers.sendTip(), "ブロック 9 バイト\nまだ送信していません");
    LoopbackClient client;
    connectAndAccept(client);
    startSending(10);
    ASSERT_TRUE(runUntil([&] { return client.hasReceived(5 * sampleBytes.size()); }));
    form.handlers.toggleSending();
    ASSERT_TRUE(runUntil([&] { return askServer().bytesQueued() == 0; }));
    const std::string sent = "送信したブロック: " + std::to_string(askServer().sentCopies()) + "\n";
    EXPECT_GE(askServer().sentCopies(), 5);
    EXPECT_TRUE(contains(form.handlers.sendTip(), sent)) << form.handlers.sendTip();

    form.handlers.toggleSending();
    const std::string tip = form.handlers.sendTip();
    for (const char *zero : {"送信したブロック: 0\n", "飛ばしたブロック: 0\n", "抜けた周期: 0"})
        EXPECT_TRUE(contains(tip, zero)) << tip;
}

// A client that keeps the server's input full: the ticks still come and
// the blocks still go out.
TEST_P(frmMainServing, FloodOfInputDoesNotStallTicks)
{
    LoopbackClient client;
    connectAndAccept(client);
    startSending(10);
    const std::int64_t ticks0 = form.handlers.tmr1.ticks();
    const std::vector<std::uint8_t> chunk(64 * 1024, 'f');
    EXPECT_TRUE(runUntil([&] {
        while (client.offer(chunk) == chunk.size()) {
        }
        return form.handlers.tmr1.ticks() - ticks0 >= 20 &&
               client.hasReceived(10 * sampleBytes.size());
    })) << form.handlers.tmr1.ticks() - ticks0
        << " ticks, " << client.received().size() << " bytes";
}

// Test code that waits for the port with a probe (a bare connect and close,
// or a request and close) and then starts its client at once: the client
// gets its blocks, and the log shows the probe as the client it was. The
// probe is either queued with the client, or taken first and closing only
// then, with the client right behind it.
TEST_P(frmMainServing, ClientRightBehindAProbeIsServed)
{
    startSending(10);
    const std::vector<std::uint8_t> request{'G', 'E', 'T', ' ', '/', '\r', '\n', '\r', '\n'};
    int accepts = 0;
    for (const bool queued : {true, false}) {
        for (const bool withData : {false, true}) {
            SCOPED_TRACE(std::string(queued ? "queued" : "behind") +
                         (withData ? ", probe sends first" : ", bare probe"));
            LoopbackClient probe;
            ASSERT_TRUE(probe.connect(20319)) << probe.why();
            if (!queued) {
                ASSERT_TRUE(runUntil([&] { return askServer().isConnected(); }));
            }
            if (withData)
                probe.send(request);
            probe.close();
            LoopbackClient client;
            ASSERT_TRUE(client.connect(20319)) << client.why();
            ASSERT_TRUE(runUntil(
                [&] { return client.hasReceived(2 * sampleBytes.size()) || client.hasEnded(); }));
            EXPECT_FALSE(client.ended());
            accepts += 2;
            EXPECT_EQ(countStarting(form.txtStat.text, "Accept requestID = "), accepts);
            client.close();
            ASSERT_TRUE(runUntil([&] { return askServer().isListening(); }));
        }
    }
}

// Three clients that connect while the server is busy wait together in the
// listen backlog: one is served, and as it stays, the others are ended
// within the grace, none left unanswered (with a backlog of 0 or 1, those
// beyond it were). A system whose backlog holds fewer may refuse one at once
// instead.
TEST_P(frmMainServing, ClientsQueuedTogetherAreEachAnswered)
{
    startSending(10);
    std::array<LoopbackClient, 3> clients;
    for (LoopbackClient &c : clients) {
        if (!c.connect(20319)) {
            EXPECT_TRUE(c.refused()) << c.why();
        }
    }
    const auto answered = [](LoopbackClient &c) {
        return c.refused() || c.hasReceived(1) || c.ended();
    };
    ASSERT_TRUE(runUntil([&] { return std::all_of(clients.begin(), clients.end(), answered); }));
    const auto served = std::count_if(clients.begin(), clients.end(), [](const LoopbackClient &c) {
        return !c.received().empty();
    });
    EXPECT_EQ(served, 1);
    EXPECT_EQ(countStarting(form.txtStat.text, "Accept requestID = "), 1);
}

INSTANTIATE_TEST_SUITE_P(Loops, frmMainServing, testing::ValuesIn(testing_loops::loopKinds()),
                         [](const auto &info) { return info.param; });

} // namespace
