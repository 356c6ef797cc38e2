// Connection storm against the window's server: `clients` clients, `parallel`
// at a time, each connecting to 127.0.0.1:20319 until it is served, as a
// client of a busy test server would. A connect that succeeds and sees no
// reset for hold_ms counts as served and is closed, which sends the server
// back to listening; a refused or reset one tries again 2 ms later. At the
// end the "Accept requestID = " lines in the log are counted: every connect
// that succeeded beyond them was completed by the OS for a client the program
// never accepted, and was reset unserved.
//   backlog_bench [clients, default 5000] [parallel, default 50] [hold_ms, default 10]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "frmMain.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Tally
{
    long attempts = 0, refused = 0, succeeded = 0, resetAfterSuccess = 0, served = 0, timedOut = 0,
         otherErrors = 0;
};

// One client's current try: connecting, connected, or waiting to try again.
struct Slot
{
    int fd = -1;
    bool connected = false;
    Clock::time_point since;
};

void tryConnect(Slot &s, Tally &t)
{
    s.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(frmMain::port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ++t.attempts;
    s.connected = false;
    s.since = Clock::now();
    if (::connect(s.fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0 || errno == EINPROGRESS)
        return;
    ++(errno == ECONNREFUSED ? t.refused : t.otherErrors);
    ::close(s.fd);
    s.fd = -1;
}

Tally storm(long clients, std::size_t parallel, int holdMs)
{
    Tally t;
    long waiting = clients; // not yet given a slot
    std::vector<Slot> tries(std::min<std::size_t>(parallel, static_cast<std::size_t>(clients)));
    waiting -= static_cast<long>(tries.size());
    const auto hold = std::chrono::milliseconds(holdMs);
    const auto retry = std::chrono::milliseconds(2);
    // Past the kernel's SYN retries of 1 and 2 s.
    const auto connectLimit = std::chrono::seconds(5);
    std::size_t busy = tries.size();
    for (Slot &s : tries)
        s.since = Clock::now() - retry;
    while (busy > 0) {
        std::vector<pollfd> fds;
        for (const Slot &s : tries)
            fds.push_back({s.fd, static_cast<short>(s.connected ? POLLIN : POLLOUT), 0});
        ::poll(fds.data(), fds.size(), 1);
        const auto now = Clock::now();
        for (std::size_t i = 0; i < tries.size(); ++i) {
            Slot &s = tries[i];
            if (s.fd < 0) {
                // Idle: a client waiting to try again, or none left for this slot.
                if (s.since != Clock::time_point::max() && now - s.since >= retry)
                    tryConnect(s, t);
                continue;
            }
            enum { keep, again, served } next = keep;
            if (!s.connected && fds[i].revents) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err == 0) {
                    ++t.succeeded;
                    s.connected = true;
                    s.since = now;
                } else {
                    ++(err == ECONNREFUSED ? t.refused : t.otherErrors);
                    next = again;
                }
            } else if (!s.connected && now - s.since > connectLimit) {
                ++t.timedOut;
                next = again;
            } else if (s.connected && fds[i].revents) {
                char byte;
                // The program sends nothing while sending is off: this is the end.
                if (::recv(s.fd, &byte, 1, 0) <= 0) {
                    ++t.resetAfterSuccess;
                    next = again;
                }
            } else if (s.connected && now - s.since > hold) {
                ++t.served;
                next = served;
            }
            if (next == keep)
                continue;
            ::close(s.fd);
            s.fd = -1;
            s.since = now;
            if (next == served) {
                if (waiting > 0)
                    --waiting;
                else {
                    s.since = Clock::time_point::max();
                    --busy;
                }
            }
        }
    }
    return t;
}

} // namespace

int main(int argc, char **argv)
{
    const long clients = argc > 1 ? std::atol(argv[1]) : 5000;
    const std::size_t parallel = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 50;
    const int holdMs = argc > 3 ? std::atoi(argv[3]) : 10;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    QFile pattern(dir.filePath("test.txt"));
    if (!pattern.open(QIODevice::WriteOnly))
        return 1;
    pattern.write("x,0,0,8,1\r\n");
    pattern.close();
    frmMain w;
    w.load(dir.filePath("test.txt"));

    Tally t;
    const auto t0 = Clock::now();
    std::thread client([&] {
        t = storm(clients, parallel, holdMs);
        // Lets the last close reach the log before counting.
        QMetaObject::invokeMethod(&app, [] { QTimer::singleShot(500, qApp, &QApplication::quit); });
    });
    app.exec();
    client.join();
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();

    long logged = 0;
    for (const QString &line : w.txtStat->toPlainText().split(QLatin1Char('\n')))
        logged += line.startsWith(QLatin1String("Accept requestID = "));
    std::printf("%ld clients, %zu at a time, served after %d ms without a reset; %.1f s\n", clients,
                parallel, holdMs, secs);
    std::printf("%9s %9s %9s %9s %9s %9s %9s %9s %13s\n", "attempts", "refused", "succeeded",
                "reset", "served", "timeout", "other", "logged", "succeeded,");
    std::printf("%9s %9s %9s %9s %9s %9s %9s %9s %13s\n", "", "", "", "", "", "", "", "",
                "not logged");
    std::printf("%9ld %9ld %9ld %9ld %9ld %9ld %9ld %9ld %13ld\n", t.attempts, t.refused,
                t.succeeded, t.resetAfterSuccess, t.served, t.timedOut, t.otherErrors, logged,
                t.succeeded - logged);
    return 0;
}
