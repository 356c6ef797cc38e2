// Clients that connect as test code does, against a server that is already
// running and sending (kesmar, or kesmar.exe under Wine), on 127.0.0.1 only.
// Each prints one line of counts.
//
//   connclient probe PORT ROUNDS [empty|data]
//       A port probe (connect, then close at once; with "data", an HTTP
//       request first, as a health check sends), then the client's own
//       connect right behind it, in one process. The client is served (a
//       byte arrives), reset (a reset or an end before its first byte),
//       refused, or silent (nothing within 5 s).
//   connclient churn PORT CLIENTS SEED
//       Clients one after another, each connecting until it gets in (every
//       1 ms), reading 0 bytes, 1, 4 KiB, 1 MiB or 3 MiB, then closing,
//       resetting or half-closing
//       (and reading on to the server's end). Counts the connects that
//       succeeded and the clients reset before their first byte; the driver
//       counts the "Accept requestID = " lines against them.
//   connclient race PORT ROUNDS CLIENTS [HOLD_MS]
//       CLIENTS connect at the same moment, ROUNDS times: each is served,
//       refused, reset, or silent (connected, then nothing for 5 s). A served
//       client stays HOLD_MS (default 0) after its first byte. Gives how long
//       after its connect a reset client heard it.
#include <algorithm>
#include <barrier>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int port = 20319;

enum class Outcome { served, reset, refused, silent };

struct Tally
{
    long served = 0, reset = 0, refused = 0, silent = 0;
    void add(Outcome o)
    {
        ++(o == Outcome::served    ? served
           : o == Outcome::reset   ? reset
           : o == Outcome::refused ? refused
                                   : silent);
    }
};

// A blocking connect; -1 with errno when it fails.
int connectOnce()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("socket");
        std::exit(1);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0)
        return fd;
    const int e = errno;
    ::close(fd);
    errno = e;
    return -1;
}

// Connects until the server takes it, as a wait-for-port loop does; -1 after
// limit. attempts counts every try.
int connectUntilIn(milliseconds limit, long &attempts)
{
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        ++attempts;
        const int fd = connectOnce();
        if (fd >= 0)
            return fd;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return -1;
}

void resetClose(int fd)
{
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

// Waits for the first byte: served, reset (a reset or an end first) or silent.
Outcome firstByte(int fd, milliseconds quiet)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0)
        return Outcome::silent;
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, 0);
    return n == 1 ? Outcome::served : Outcome::reset;
}

int probe(long rounds, bool withData)
{
    Tally t;
    long probesLost = 0, attempts = 0;
    static const char request[] = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    for (long r = 0; r < rounds; ++r) {
        const int p = connectUntilIn(std::chrono::seconds(10), attempts);
        if (p < 0) {
            ++probesLost;
            continue;
        }
        if (withData)
            (void)!::send(p, request, sizeof request - 1, MSG_NOSIGNAL);
        ::close(p);
        const int c = connectOnce();
        if (c < 0) {
            t.add(Outcome::refused);
            continue;
        }
        t.add(firstByte(c, milliseconds(5000)));
        ::close(c);
    }
    std::printf("probe%s: rounds %ld served %ld reset %ld refused %ld silent %ld "
                "(probes that never got in: %ld)\n",
                withData ? " with data" : "", rounds, t.served, t.reset, t.refused, t.silent,
                probesLost);
    return 0;
}

// Reads up to want bytes, for at most limit; false on a reset or an end.
bool readSome(int fd, long want, milliseconds limit, bool &gotAny)
{
    std::vector<char> buf(65536);
    const auto end = Clock::now() + limit;
    long got = 0;
    while (got < want) {
        const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            return true;
        const ssize_t n =
            ::recv(fd, buf.data(), static_cast<size_t>(std::min<long>(want - got, 65536)), 0);
        if (n <= 0)
            return false;
        got += n;
        gotAny = true;
    }
    return true;
}

int churn(long clients, unsigned seed)
{
    std::mt19937 rng(seed);
    long succeeded = 0, attempts = 0, neverIn = 0, resetFirst = 0, ends[3] = {};
    for (long i = 0; i < clients; ++i) {
        const int fd = connectUntilIn(std::chrono::seconds(10), attempts);
        if (fd < 0) {
            ++neverIn;
            continue;
        }
        ++succeeded;
        // Nothing at all (a probe, in effect), a byte, part of a block, one
        // block or three.
        static const long amounts[] = {0, 1, 4096, 1L << 20, 3L << 20};
        const long want = amounts[std::uniform_int_distribution<int>(0, 4)(rng)];
        bool gotAny = false;
        const bool alive = want == 0 || readSome(fd, want, milliseconds(3000), gotAny);
        if (!alive && !gotAny)
            ++resetFirst;
        const int how = std::uniform_int_distribution<int>(0, 2)(rng);
        ++ends[how];
        if (how == 0) {
            ::close(fd);
        } else if (how == 1) {
            resetClose(fd);
        } else {
            ::shutdown(fd, SHUT_WR);
            bool any = false;
            readSome(fd, 1L << 40, milliseconds(3000), any); // to the server's end
            ::close(fd);
        }
    }
    std::printf("churn: clients %ld connects succeeded %ld (attempts %ld, never in %ld); "
                "reset before the first byte %ld; closed %ld reset %ld half-closed %ld\n",
                clients, succeeded, attempts, neverIn, resetFirst, ends[0], ends[1], ends[2]);
    return 0;
}

int race(long rounds, int clients, int holdMs)
{
    Tally t;
    std::vector<double> resetMs; // from the connect to the reset
    for (long r = 0; r < rounds; ++r) {
        std::barrier start(clients);
        std::vector<Outcome> got(static_cast<std::size_t>(clients));
        std::vector<double> after(static_cast<std::size_t>(clients), -1);
        std::vector<std::thread> threads;
        for (int i = 0; i < clients; ++i)
            threads.emplace_back([&, i] {
                const auto k = static_cast<std::size_t>(i);
                start.arrive_and_wait();
                const int fd = connectOnce();
                if (fd < 0) {
                    got[k] = Outcome::refused;
                    return;
                }
                const auto in = Clock::now();
                got[k] = firstByte(fd, milliseconds(5000));
                if (got[k] == Outcome::reset)
                    after[k] = std::chrono::duration<double, std::milli>(Clock::now() - in).count();
                if (got[k] == Outcome::served)
                    std::this_thread::sleep_for(milliseconds(holdMs));
                ::close(fd);
            });
        for (auto &th : threads)
            th.join();
        for (std::size_t i = 0; i < got.size(); ++i) {
            t.add(got[i]);
            if (after[i] >= 0)
                resetMs.push_back(after[i]);
        }
        // Let the server listen again before the next round.
        std::this_thread::sleep_for(milliseconds(30));
    }
    std::sort(resetMs.begin(), resetMs.end());
    const auto at = [&](double q) {
        return resetMs.empty() ? 0.0 : resetMs[static_cast<std::size_t>(q * (resetMs.size() - 1))];
    };
    std::printf("race: rounds %ld clients %d (served ones stay %d ms) served %ld refused %ld "
                "reset %ld silent %ld; reset after p50 %.1f ms, max %.1f ms\n",
                rounds, clients, holdMs, t.served, t.refused, t.reset, t.silent, at(0.5), at(1.0));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() >= 3 && a[0] == "probe") {
        port = std::stoi(a[1]);
        return probe(std::stol(a[2]), a.size() > 3 && a[3] == "data");
    }
    if (a.size() == 4 && a[0] == "churn") {
        port = std::stoi(a[1]);
        return churn(std::stol(a[2]), static_cast<unsigned>(std::stoul(a[3])));
    }
    if (a.size() >= 4 && a[0] == "race") {
        port = std::stoi(a[1]);
        return race(std::stol(a[2]), std::stoi(a[3]), a.size() > 4 ? std::stoi(a[4]) : 0);
    }
    std::fprintf(stderr, "usage: connclient probe PORT ROUNDS [empty|data] | churn PORT CLIENTS "
                         "SEED | race PORT ROUNDS CLIENTS [HOLD_MS]\n");
    return 2;
}
