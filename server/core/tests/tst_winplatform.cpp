// What the Windows build promises beyond the event loop's contract: the
// port held alone, and let go at once by every connection on it however it
// is closed; clients that come together queued rather than refused; a
// refused port named for each of its likely causes; and a fatal error's box
// that leaves the window answering.

#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Fatal.h"
#include "FatalBox.h"
#include "LoopbackClient.h"
#include "Net.h"
#include "SockCtl.h"
#include "TestLoops.h"
#include "WinEventLoop.h"

namespace {

using namespace std::chrono_literals;

struct Held
{
    SOCKET s;
    ~Held() { closesocket(s); }
};

TEST(WinSockets, NoOtherSocketBindsTheListenersPort)
{
    const auto listener = static_cast<SOCKET>(kesmar::net::listenTcp(0, 2, 0, 0));
    const Held held{listener};
    int exclusive = 0;
    int len = sizeof exclusive;
    ASSERT_EQ(getsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                         reinterpret_cast<char *>(&exclusive), &len),
              0);
    EXPECT_EQ(exclusive, 1);

    // What another program of the same user would try: the loopback address
    // alone, more specific than ours, with the port shared.
    const Held other{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    const int on = 1;
    setsockopt(other.s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&on), sizeof on);
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    loopback.sin_port = htons(kesmar::net::localPort(static_cast<kesmar::net::Socket>(listener)));
    EXPECT_NE(bind(other.s, reinterpret_cast<const sockaddr *>(&loopback), sizeof loopback), 0);
}

struct Peer final : kesmar::SockCtlEvents
{
    kesmar::SockCtl *ctl = nullptr;
    int closes = 0;
    std::string listenFailed;
    void ConnectionRequest(std::int32_t id) override
    {
        ctl->Close();
        ctl->Accept(id);
    }
    void DataArrival(std::int32_t) override {}
    void PeerClose() override
    {
        ++closes;
        ctl->Close();
        try {
            ctl->Listen(); // as the window's handler does
        } catch (const kesmar::SockCtlError &e) {
            listenFailed = e.what();
        }
    }
    void SendComplete() override {}
    void SendProgress(std::int32_t, std::int32_t) override {}
};

bool underWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A client that half-closes and then stops reading leaves data unsent and
// never acknowledges the end: an orderly close would keep that connection,
// and with it the exclusive port, busy for as long as the client pleases.
// The control lets it go with a reset and listens on the port again at once.
TEST(WinSockets, PortIsListenedOnAgainAtOnceAfterAPeerThatStoppedReading)
{
    auto test = testing_loops::makeLoop("win32");
    Peer peer;
    kesmar::SockCtl ctl(test->loop(), peer);
    peer.ctl = &ctl;
    ctl.setLocalPort(0);
    ctl.setSendBufferSize(4096);
    ctl.Listen();
    ctl.setLocalPort(ctl.boundPort());

    const Held client{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    const int small = 4096;
    setsockopt(client.s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&small),
               sizeof small);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<u_short>(ctl.boundPort()));
    ASSERT_EQ(connect(client.s, reinterpret_cast<const sockaddr *>(&to), sizeof to), 0);
    ASSERT_TRUE(test->runUntil([&] { return ctl.isConnected(); }, 10s));
    const std::vector<std::uint8_t> block(256 * 1024, 0x5A);
    ctl.SendData(block);
    ASSERT_GT(ctl.bytesQueued(), 0) << "the client's window never filled";

    shutdown(client.s, SD_SEND);
    ASSERT_TRUE(test->runUntil([&] { return peer.closes == 1; }, 10s));
    EXPECT_EQ(peer.listenFailed, "");
    EXPECT_TRUE(ctl.isListening());

    // What the client reads ends in a reset, not an end of stream. Wine
    // closes in order whatever SO_LINGER says, and its sockets share ports
    // with what they leave behind, so it shows neither the fault nor this.
    if (underWine())
        GTEST_SKIP() << "Wine ignores an abortive close";
    u_long nonBlocking = 1;
    ioctlsocket(client.s, FIONBIO, &nonBlocking);
    char buffer[65536];
    int n = 0;
    for (int i = 0; i < 500; ++i) {
        n = recv(client.s, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK))
            break;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(n, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

// Windows refuses a client outright when the listen queue is full, so the
// queue holds every client that comes while this thread is busy (here: all
// of them connect before the loop first runs), as many as the control
// holds. And every connection taken from it, the one served and those held,
// closes with a reset however it is closed, the end of the process
// included: none keeps the exclusive port from the next listen.
TEST(WinSockets, ClientsThatComeWhileTheThreadIsBusyAreQueuedAndEachIsResetWhenClosed)
{
    auto test = testing_loops::makeLoop("win32");
    Peer peer;
    kesmar::SockCtl ctl(test->loop(), peer);
    peer.ctl = &ctl;
    ctl.setLocalPort(0);
    ctl.Listen();
    const auto port = static_cast<std::uint16_t>(ctl.boundPort());

    std::vector<std::unique_ptr<testing_loopback::LoopbackClient>> clients;
    for (std::size_t i = 0; i < kesmar::SockCtl::holdLimit; ++i) {
        auto &client = clients.emplace_back(std::make_unique<testing_loopback::LoopbackClient>());
        ASSERT_TRUE(client->connect(port, testing_loopback::Family::v4, 0, 3s))
            << "client " << i + 1 << " of " << kesmar::SockCtl::holdLimit << ": " << client->why();
    }
    ASSERT_TRUE(test->runUntil([&] {
        return ctl.isConnected() && ctl.connectionsHeld() == kesmar::SockCtl::holdLimit - 1;
    }));

    std::vector<kesmar::net::Socket> accepted{ctl.connection()};
    accepted.insert(accepted.end(), ctl.heldConnections().begin(), ctl.heldConnections().end());
    for (const kesmar::net::Socket s : accepted) {
        linger l{};
        int len = sizeof l;
        ASSERT_EQ(getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_LINGER,
                             reinterpret_cast<char *>(&l), &len),
                  0);
        EXPECT_TRUE(l.l_onoff != 0 && l.l_linger == 0)
            << "socket " << s << ": SO_LINGER " << l.l_onoff << ", " << l.l_linger;
    }
}

// WSAEACCES at start-up or when listening again: the system's words only
// speak of access, so the message names each likely cause and the commands
// that tell which.
TEST(WinSockets, RefusedPortIsNamedForEachOfItsCauses)
{
    for (const std::uint16_t port : {20319, 5000}) {
        const std::string p = std::to_string(port);
        const std::string refused = kesmar::net::listenErrorText(WSAEACCES, port);
        for (const std::string &part :
             {"port " + p, std::string("reserved"),
              std::string("\"netsh interface ipv4 show excludedportrange protocol=tcp\""),
              std::string("\"netsh interface ipv6 show excludedportrange protocol=tcp\""),
              "another program may hold port " + p + " on one address",
              "\"netstat -ano | findstr :" + p + "\""})
            EXPECT_NE(refused.find(part), std::string::npos) << "no " << part << " in: " << refused;
    }
    EXPECT_EQ(kesmar::net::listenErrorText(WSAEADDRINUSE, 20319),
              "The bound address is already in use");
}

BOOL CALLBACK takeBox(HWND window, LPARAM found)
{
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32770")
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

std::atomic<bool> handlerRan{false};

// Ends the process: with status 1 when all held, with another one naming
// what did not.
[[noreturn]] void failWhileTheBoxIsWatched()
{
    HWND window = CreateWindowExW(0, L"STATIC", L"window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  300, 200, nullptr, nullptr, nullptr, nullptr);
    kesmar::win32::WinEventLoop loop;
    loop.post([] { handlerRan = true; });
    loop.wakeAt(loop.nowNs(), [] { handlerRan = true; });
    const DWORD gui = GetCurrentThreadId();
    std::thread([window, gui] {
        HWND box = nullptr;
        for (int i = 0; i < 1000 && !box; ++i) {
            std::this_thread::sleep_for(10ms);
            EnumThreadWindows(gui, takeBox, reinterpret_cast<LPARAM>(&box));
        }
        if (!box)
            ExitProcess(10);
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &answer))
            ExitProcess(11); // the window's thread takes no messages
        if (IsWindowEnabled(window) || GetWindow(box, GW_OWNER) != window)
            ExitProcess(12); // the window would take input beside the box
        std::this_thread::sleep_for(300ms);
        if (handlerRan)
            ExitProcess(13);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }).detach();
    setFatalReport(kesmar::win32::showFatalError);
    runHandler([] { throw std::runtime_error("the handler failed"); });
    ExitProcess(14);
}

TEST(FatalBoxDeathTest, WindowAnswersAndNoHandlerRunsUntilTheBoxCloses)
{
    EXPECT_EXIT(failWhileTheBoxIsWatched(), testing::ExitedWithCode(1),
                "kesmar: the handler failed");
}

} // namespace
