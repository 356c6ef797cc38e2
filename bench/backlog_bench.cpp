// Connection storm against the window's server: `clients` clients, `parallel`
// at a time, each connecting to 127.0.0.1:20319 until it is served, as a
// client of a busy test server would. A connect that succeeds and sees no
// reset for hold_ms counts as served and is closed, which sends the server
// back to listening; a refused or reset one tries again 2 ms later. At the
// end the "Accept requestID = " lines in the log are counted: every connect
// that succeeded beyond them was completed by the OS for a client the program
// never accepted, and was reset unserved.
//   backlog_bench [clients, default 5000] [parallel, default 50] [hold_ms, default 10]
//
// The race: `clients` clients (default 3) connect at the same moment,
// `rounds` times, with sending on every 10 ms. Each one is served (a byte of
// the pattern arrives; it then closes, and the server listens again),
// refused, reset (an end or a reset after its connect succeeded), or silent:
// connected, and neither a byte nor an end within quiet_s.
//   backlog_bench race [rounds, default 200] [clients, default 3] [quiet_s, default 5]
#include <algorithm>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
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
#include <QPushButton>
#include <QSlider>
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

enum class Outcome { served, refused, reset, silent, other };

// One racing client, from its connect to its outcome.
Outcome raceOnce(std::barrier<> &start, std::chrono::seconds quiet, double &resetAfter)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(frmMain::port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    start.arrive_and_wait();
    Outcome out = Outcome::other;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        out = errno == ECONNREFUSED ? Outcome::refused : Outcome::other;
        ::close(fd);
        return out;
    }
    // Past the kernel's SYN retries at 1 and 3 s.
    pollfd p{fd, POLLOUT, 0};
    int err = ETIMEDOUT;
    if (::poll(&p, 1, 10000) == 1) {
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    }
    if (err != 0) {
        ::close(fd);
        // A reset that came before this thread looked is a reset all the same.
        return err == ECONNREFUSED ? Outcome::refused
               : err == ECONNRESET ? Outcome::reset
                                   : Outcome::other;
    }
    const auto connected = Clock::now();
    p = {fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(quiet.count() * 1000)) == 1) {
        char byte;
        if (::recv(fd, &byte, 1, 0) > 0) {
            out = Outcome::served;
        } else {
            out = Outcome::reset;
            resetAfter = std::chrono::duration<double>(Clock::now() - connected).count();
        }
    } else {
        out = Outcome::silent;
    }
    ::close(fd);
    return out;
}

// The kernel's counters of this network namespace, by name.
std::map<std::string, long> tcpExt()
{
    std::ifstream in("/proc/net/netstat");
    std::map<std::string, long> counters;
    std::string names, values;
    while (std::getline(in, names) && std::getline(in, values)) {
        if (names.rfind("TcpExt:", 0) != 0)
            continue;
        std::istringstream n(names), v(values);
        std::string name, value;
        while (n >> name && v >> value)
            counters[name] = std::atol(value.c_str());
    }
    return counters;
}

struct RaceTally
{
    long served = 0, refused = 0, reset = 0, silent = 0, other = 0;
    double slowestReset = 0;
};

RaceTally race(int rounds, int clients, int quietS)
{
    RaceTally t;
    for (int r = 0; r < rounds; ++r) {
        std::barrier<> start(clients);
        std::vector<Outcome> outcomes(static_cast<std::size_t>(clients));
        std::vector<double> resetAfter(outcomes.size(), 0);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < outcomes.size(); ++i)
            threads.emplace_back([&, i] {
                outcomes[i] = raceOnce(start, std::chrono::seconds(quietS), resetAfter[i]);
            });
        for (std::thread &th : threads)
            th.join();
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            switch (outcomes[i]) {
            case Outcome::served:
                ++t.served;
                break;
            case Outcome::refused:
                ++t.refused;
                break;
            case Outcome::reset:
                ++t.reset;
                break;
            case Outcome::silent:
                ++t.silent;
                break;
            case Outcome::other:
                ++t.other;
                break;
            }
            t.slowestReset = std::max(t.slowestReset, resetAfter[i]);
        }
        // The served client's close sends the server back to listening.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return t;
}

} // namespace

int main(int argc, char **argv)
{
    const bool raceMode = argc > 1 && std::strcmp(argv[1], "race") == 0;
    const int first = raceMode ? 2 : 1;
    const auto arg = [&](int i, long fallback) {
        return argc > first + i ? std::atol(argv[first + i]) : fallback;
    };
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
    const auto logged = [&w] {
        long n = 0;
        for (const QString &line : w.txtStat->text().split(QLatin1Char('\n')))
            n += line.startsWith(QLatin1String("Accept requestID = "));
        return n;
    };
    const auto t0 = Clock::now();
    const auto seconds = [&t0] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
    // Lets the last close reach the log before counting.
    const auto quitSoon = [&app] {
        QMetaObject::invokeMethod(&app, [] { QTimer::singleShot(500, qApp, &QApplication::quit); });
    };

    if (raceMode) {
        const int rounds = static_cast<int>(arg(0, 200));
        const int clients = static_cast<int>(std::max(arg(1, 3), 1L));
        const int quietS = static_cast<int>(arg(2, 5));
        // The served client is the one that gets the pattern.
        w.sldPeriod->setValue(10);
        w.cmdSend->click();
        std::map<std::string, long> before = tcpExt();
        RaceTally t;
        std::thread client([&] {
            t = race(rounds, clients, quietS);
            quitSoon();
        });
        app.exec();
        client.join();
        std::map<std::string, long> after = tcpExt();
        const long succeeded = t.served + t.reset + t.silent;
        std::printf("%d rounds of %d clients at once, silent after %d s without a byte or an "
                    "end; %.1f s\n",
                    rounds, clients, quietS, seconds());
        std::printf("%7s %7s %7s %7s %7s %9s %7s %11s %9s %9s\n", "served", "refused", "reset",
                    "silent", "other", "succeeded", "logged", "succeeded,", "syn", "listen");
        std::printf("%7s %7s %7s %7s %7s %9s %7s %11s %9s %9s\n", "", "", "", "", "", "", "",
                    "not logged", "cookies", "overflows");
        std::printf("%7ld %7ld %7ld %7ld %7ld %9ld %7ld %11ld %9ld %9ld\n", t.served, t.refused,
                    t.reset, t.silent, t.other, succeeded, logged(), succeeded - logged(),
                    after["SyncookiesSent"] - before["SyncookiesSent"],
                    after["ListenOverflows"] - before["ListenOverflows"]);
        std::printf("slowest reset after its connect: %.3f s\n", t.slowestReset);
        return 0;
    }

    const long clients = arg(0, 5000);
    const auto parallel = static_cast<std::size_t>(arg(1, 50));
    const int holdMs = static_cast<int>(arg(2, 10));
    Tally t;
    std::thread client([&] {
        t = storm(clients, parallel, holdMs);
        quitSoon();
    });
    app.exec();
    client.join();
    std::printf("%ld clients, %zu at a time, served after %d ms without a reset; %.1f s\n", clients,
                parallel, holdMs, seconds());
    std::printf("%9s %9s %9s %9s %9s %9s %9s %9s %13s\n", "attempts", "refused", "succeeded",
                "reset", "served", "timeout", "other", "logged", "succeeded,");
    std::printf("%9s %9s %9s %9s %9s %9s %9s %9s %13s\n", "", "", "", "", "", "", "", "",
                "not logged");
    std::printf("%9ld %9ld %9ld %9ld %9ld %9ld %9ld %9ld %13ld\n", t.attempts, t.refused,
                t.succeeded, t.resetAfterSuccess, t.served, t.timedOut, t.otherErrors, logged(),
                t.succeeded - logged());
    return 0;
}
