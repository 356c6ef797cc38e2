// Loopback client for the server benchmarks. It times the arrival of every
// complete block (it knows the block's bytes), checks that each one is intact,
// and prints one table row. It only ever connects to 127.0.0.1.
//
//   srvclient pattern RECORDS DIR      write DIR/test.txt (32-bit records) and
//                                      DIR/blob (the bytes kesmar packs from it)
//   srvclient sample DIR               the same for the 9-byte sample pattern
//   srvclient period     PORT BLOB PERIOD_MS SECONDS LABEL [PID]
//   srvclient throughput PORT BLOB PERIOD_MS SECONDS LABEL [PID] [quickack]
//   srvclient idle       PORT SECONDS             connect, never read
//   srvclient flood      PORT BLOB PERIOD_MS SECONDS
//   srvclient clock      PERIOD_MS SECONDS        a bare timerfd loop's lateness
//   srvclient paced      PORT BLOB PERIOD_MS SNDBUF PIECE [glib]
//                                      a bare sender to measure kesmar against
//
// PERIOD_MS 0 means "no schedule" (a source that pushes as fast as it can).
// PID, when given and not "-", is the process whose CPU time is reported.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <glib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace {

std::int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "srvclient: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

std::vector<unsigned char> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        die("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The server may still be starting: retry for a few seconds.
int connectLoopback(int port)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            die("socket");
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            return fd;
        ::close(fd);
        usleep(50000);
    }
    die("cannot connect to 127.0.0.1:" + std::to_string(port));
}

// Time on a CPU of each of a process's threads, in ns, from the
// scheduler's own count (/proc/PID/task/TID/schedstat): utime + stime in
// /proc/PID/stat come in 10 ms ticks, which over 30 s at 1 % of a core is
// an error of up to 7 % in a ratio of two such figures. Empty when it
// cannot be read.
using CpuSnapshot = std::map<std::string, std::int64_t>;

CpuSnapshot cpuSnapshot(const std::string &pid)
{
    CpuSnapshot threads;
    if (pid.empty() || pid == "-")
        return threads;
    std::error_code ec;
    for (const auto &task : std::filesystem::directory_iterator("/proc/" + pid + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        std::int64_t ns = 0;
        if (in >> ns)
            threads[task.path().filename().string()] = ns;
    }
    return threads;
}

// Seconds on a CPU between two snapshots, over the threads in both (a
// thread that starts or ends between them is left out: Qt's idle pool
// threads, which do next to nothing); -1 when there is no figure.
double cpuSeconds(const CpuSnapshot &before, const CpuSnapshot &after)
{
    if (before.empty() || after.empty())
        return -1;
    std::int64_t ns = 0;
    for (const auto &[tid, t] : after)
        if (const auto it = before.find(tid); it != before.end())
            ns += t - it->second;
    return static_cast<double>(ns) / 1e9;
}

// Reads the stream, stamping each block as its last byte arrives and
// comparing every byte with the pattern.
struct Reader
{
    explicit Reader(const std::vector<unsigned char> &pattern) : blob(pattern) {}

    const std::vector<unsigned char> &blob;
    std::vector<std::int64_t> stamps;
    std::int64_t total = 0;
    std::int64_t corrupt = 0;
    bool eof = false;

    void take(const unsigned char *p, std::size_t n, std::int64_t t, bool record)
    {
        const std::size_t b = blob.size();
        std::size_t done = 0;
        while (done < n) {
            const std::size_t off = static_cast<std::size_t>(total % static_cast<std::int64_t>(b));
            const std::size_t k = std::min(n - done, b - off);
            if (std::memcmp(p + done, blob.data() + off, k) != 0)
                ++corrupt;
            done += k;
            total += static_cast<std::int64_t>(k);
            if (off + k == b && record)
                stamps.push_back(t);
        }
    }
};

double pct(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    auto idx = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size())));
    idx = std::clamp<std::size_t>(idx, 1, v.size()) - 1;
    return v[idx];
}

std::string cpuText(double seconds, double wall)
{
    if (seconds < 0)
        return "-";
    // Hundredths: a bare sender's share at a 10 ms period is about 1%.
    char s[32];
    std::snprintf(s, sizeof s, "%.2f", seconds / wall * 100);
    return s;
}

// Reads for the given time, stamping the blocks that complete in it.
void readStream(int fd, Reader &r, double seconds, bool quickack, std::int64_t &t0,
                std::int64_t &t1)
{
    std::vector<unsigned char> buf(4 << 20);
    t0 = nowNs();
    t1 = t0 + static_cast<std::int64_t>(seconds * 1e9);
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const std::int64_t now = nowNs();
        if (now >= t1)
            break;
        const int ms = static_cast<int>((t1 - now) / 1000000) + 1;
        if (::poll(&p, 1, std::min(ms, 200)) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        const std::int64_t t = nowNs();
        if (n <= 0) {
            r.eof = true;
            t1 = t;
            break;
        }
        if (quickack) {
            // Acknowledge at once rather than after the delayed-ACK timer.
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        }
        r.take(buf.data(), static_cast<std::size_t>(n), t, true);
    }
}

std::vector<double> intervalsMs(const std::vector<std::int64_t> &s)
{
    std::vector<double> iv;
    for (std::size_t i = 1; i < s.size(); ++i)
        iv.push_back(static_cast<double>(s[i] - s[i - 1]) / 1e6);
    return iv;
}

void warnIntegrity(const Reader &r, const char *label)
{
    if (r.corrupt)
        std::fprintf(stderr, "srvclient: %s: %lld chunks differ from the pattern\n", label,
                     static_cast<long long>(r.corrupt));
}

int periodRow(int port, const std::string &blobPath, double period, double seconds,
              const char *label, const std::string &pid)
{
    const auto blob = readFile(blobPath);
    const int fd = connectLoopback(port);
    Reader r{blob};
    std::int64_t t0 = 0, t1 = 0;
    // The first second is not timed: blocks may have queued while the
    // connection was being accepted.
    readStream(fd, r, 1.0, false, t0, t1);
    r.stamps.clear();
    const CpuSnapshot c0 = cpuSnapshot(pid);
    readStream(fd, r, seconds, false, t0, t1);
    const double cpu = cpuSeconds(c0, cpuSnapshot(pid));
    ::close(fd);
    warnIntegrity(r, label);
    // The first read of the timed stretch can hold a block that was already
    // waiting when it began: it would count as an interval of 0 and put a
    // whole period into the drift. Time from the first block that arrives
    // in it instead.
    if (r.stamps.size() > 1 && r.stamps[1] == r.stamps[0])
        r.stamps.erase(r.stamps.begin());
    const auto iv = intervalsMs(r.stamps);
    if (iv.size() < 2) {
        // Still a row: the table goes on with the other sources.
        std::printf("%-20s %6.0f %7zu   too few blocks\n", label, period, r.stamps.size());
        return 0;
    }
    double sum = 0;
    std::vector<double> err;
    for (double x : iv) {
        sum += x;
        err.push_back(std::fabs(x - period));
    }
    const double mean = sum / static_cast<double>(iv.size());
    const double elapsed = static_cast<double>(r.stamps.back() - r.stamps.front()) / 1e6;
    const double drift = elapsed - static_cast<double>(r.stamps.size() - 1) * period;
    std::printf("%-20s %6.0f %7zu %+10.4f %+8.3f %8.3f %8.3f %8.3f %+10.2f %6s\n", label, period,
                r.stamps.size(), mean - period, (mean - period) / period * 100, pct(err, 0.5),
                pct(err, 0.99), pct(err, 1.0), drift,
                cpuText(cpu, static_cast<double>(t1 - t0) / 1e9).c_str());
    if (std::fabs(pct(iv, 0.5) - period) > period / 2)
        std::fprintf(stderr,
                     "srvclient: %s: median interval %.1f ms, not near %.0f ms: was the "
                     "period set?\n",
                     label, pct(iv, 0.5), period);
    return 0;
}

int throughputRow(int port, const std::string &blobPath, double period, double seconds,
                  const char *label, const std::string &pid, bool quickack)
{
    const auto blob = readFile(blobPath);
    const int fd = connectLoopback(port);
    Reader r{blob};
    std::int64_t t0 = 0, t1 = 0;
    // The rate counts only what arrives after a second's warm-up.
    readStream(fd, r, 1.0, quickack, t0, t1);
    const std::int64_t before = r.total;
    const std::size_t skip = r.stamps.size();
    const CpuSnapshot c0 = cpuSnapshot(pid);
    readStream(fd, r, seconds, quickack, t0, t1);
    const double cpu = cpuSeconds(c0, cpuSnapshot(pid));
    ::close(fd);
    warnIntegrity(r, label);
    const double wall = static_cast<double>(t1 - t0) / 1e9;
    std::vector<std::int64_t> stamps(r.stamps.begin() + static_cast<std::ptrdiff_t>(skip),
                                     r.stamps.end());
    const auto iv = intervalsMs(stamps);
    const double mbps = static_cast<double>(r.total - before) / wall / 1e6;
    std::string onTime = "-", asked = "-";
    char text[32];
    if (period > 0) {
        std::snprintf(text, sizeof text, "%.0f", 1000.0 / period);
        asked = text;
    }
    if (period > 0 && !iv.empty()) {
        const auto ok = std::count_if(iv.begin(), iv.end(),
                                      [&](double x) { return std::fabs(x - period) <= 1.0; });
        std::snprintf(text, sizeof text, "%.1f",
                      100.0 * static_cast<double>(ok) / static_cast<double>(iv.size()));
        onTime = text;
    }
    std::printf("%-28s %8zu %8.1f %8.1f %6s %8.2f %8.2f %8.2f %8.2f %7s %6s%s\n", label,
                blob.size(), mbps, static_cast<double>(stamps.size()) / wall, asked.c_str(),
                pct(iv, 0.01), pct(iv, 0.5), pct(iv, 0.99), pct(iv, 1.0), onTime.c_str(),
                cpuText(cpu, wall).c_str(), r.eof ? "  (source ended early)" : "");
    return 0;
}

int idle(int port, double seconds)
{
    const int fd = connectLoopback(port);
    usleep(static_cast<useconds_t>(seconds * 1e6));
    int queued = 0;
    ::ioctl(fd, FIONREAD, &queued);
    std::printf("never-reading client: %d bytes waiting unread in its socket after %.0f s\n",
                queued, seconds);
    ::close(fd);
    return 0;
}

// Writes as fast as the server takes it while reading (and timing) what the
// server sends, so that the send side does not stall behind a full window.
int flood(int port, const std::string &blobPath, double period, double seconds)
{
    const auto blob = readFile(blobPath);
    const int fd = connectLoopback(port);
    std::vector<unsigned char> out(64 * 1024, 0x5A), in(4 << 20);
    Reader r{blob};
    std::int64_t sent = 0;
    const std::int64_t t0 = nowNs(), t1 = t0 + static_cast<std::int64_t>(seconds * 1e9);
    pollfd p{fd, POLLIN | POLLOUT, 0};
    while (nowNs() < t1) {
        if (::poll(&p, 1, 200) <= 0)
            continue;
        if (p.revents & POLLIN) {
            const ssize_t n = ::recv(fd, in.data(), in.size(), MSG_DONTWAIT);
            if (n == 0)
                break;
            // The first second is not timed, as in the other modes.
            if (n > 0)
                r.take(in.data(), static_cast<std::size_t>(n), nowNs(), nowNs() - t0 >= 1000000000);
        }
        if (p.revents & POLLOUT) {
            const ssize_t n = ::send(fd, out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (n < 0 && errno != EAGAIN)
                break;
        }
        if (p.revents & (POLLERR | POLLHUP))
            break;
    }
    const double wall = static_cast<double>(nowNs() - t0) / 1e9;
    ::close(fd);
    warnIntegrity(r, "flood");
    const auto iv = intervalsMs(r.stamps);
    std::printf("flooding client: sent %.1f MB in %.0f s (%.1f MB/s taken by the server); "
                "got %zu blocks (%.1f/s, %.0f asked), interval p50 %.2f p99 %.2f max %.2f ms\n",
                static_cast<double>(sent) / 1e6, wall, static_cast<double>(sent) / wall / 1e6,
                r.stamps.size(), static_cast<double>(r.stamps.size()) / wall, 1000.0 / period,
                pct(iv, 0.5), pct(iv, 0.99), pct(iv, 1.0));
    return 0;
}

void armAt(int timerFd, std::int64_t dueNs)
{
    itimerspec at{};
    at.it_value.tv_sec = static_cast<time_t>(dueNs / 1000000000);
    at.it_value.tv_nsec = static_cast<long>(dueNs % 1000000000);
    timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &at, nullptr);
}

// Sleeps on a timerfd until the CLOCK_MONOTONIC time dueNs.
void waitUntil(int timerFd, std::int64_t dueNs)
{
    armAt(timerFd, dueNs);
    std::uint64_t n = 0;
    if (::read(timerFd, &n, sizeof n) != sizeof n)
        die("read timerfd");
}

// The machine's own share of a late tick: a process that does nothing but
// wait on a timerfd armed for each due time, as kesmar's clock does, and
// notes how late it wakes. A row in the period table's in-process columns.
int clockRow(double period, double seconds)
{
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (fd < 0)
        die("timerfd_create");
    const auto periodNs = static_cast<std::int64_t>(period * 1e6);
    const std::int64_t t0 = nowNs();
    const auto ticks = static_cast<std::int64_t>(seconds * 1e3 / period);
    std::vector<double> late;
    for (std::int64_t k = 1; k <= ticks; ++k) {
        const std::int64_t due = t0 + k * periodNs;
        waitUntil(fd, due);
        late.push_back(static_cast<double>(nowNs() - due) / 1e6);
    }
    ::close(fd);
    const auto over = std::count_if(late.begin(), late.end(), [](double x) { return x > 1.0; });
    std::printf("%-20s %6.0f %7zu %10s %8s %8s %8s %8s %10s %6s | %8.3f %8.3f %8.3f %6ld\n",
                "bare timerfd loop", period, late.size(), "-", "-", "-", "-", "-", "-", "-",
                pct(late, 0.5), pct(late, 0.99), pct(late, 1.0), static_cast<long>(over));
    return 0;
}

struct TickSource
{
    GSource base;
    int fd;
    std::function<std::int64_t()> *tick;
    GMainLoop *loop;
};

gboolean dispatchTick(GSource *s, GSourceFunc, gpointer)
{
    auto *self = reinterpret_cast<TickSource *>(s);
    const std::int64_t due = (*self->tick)();
    if (due < 0) {
        g_main_loop_quit(self->loop);
        return G_SOURCE_REMOVE;
    }
    armAt(self->fd, due); // re-arming clears the expiry that woke us
    return G_SOURCE_CONTINUE;
}

// Runs a glib main loop whose one source is timerFd, armed for firstNs;
// each wake calls tick, which gives the next due time, or -1 to stop.
int glibLoop(int timerFd, std::int64_t firstNs, std::function<std::int64_t()> tick)
{
    static GSourceFuncs funcs{nullptr, nullptr, dispatchTick, nullptr, nullptr, nullptr};
    GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
    auto *source = reinterpret_cast<TickSource *>(g_source_new(&funcs, sizeof(TickSource)));
    source->fd = timerFd;
    source->tick = &tick;
    source->loop = loop;
    g_source_add_unix_fd(&source->base, timerFd, G_IO_IN);
    g_source_attach(&source->base, nullptr);
    armAt(timerFd, firstNs);
    g_main_loop_run(loop);
    g_source_destroy(&source->base);
    g_source_unref(&source->base);
    g_main_loop_unref(loop);
    return 0;
}

// What this machine allows any paced sender: no window and no event loop,
// only a thread that waits on a timerfd for each due time and pushes the
// whole block in send() calls of PIECE bytes, as kesmar does, with SO_SNDBUF
// and Nagle's algorithm set as kesmar sets them (SNDBUF 0 keeps the OS's
// default buffers). A tick more than a period late is dropped, as kesmar
// drops it. Serves one client, until it goes.
//
// With viaGlib the thread sleeps in a glib main loop instead, woken by a
// source of its own for the timerfd, as kesmar's Qt front end is: the
// floor of any program whose one thread waits in glib.
int paced(int port, const std::string &blobPath, double period, int sndbuf, long piece,
          bool viaGlib)
{
    const auto blob = readFile(blobPath);
    const int ls = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (ls < 0)
        die("socket");
    const int one = 1;
    ::setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (sndbuf > 0) {
        ::setsockopt(ls, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
        ::setsockopt(ls, SOL_SOCKET, SO_RCVBUF, &sndbuf, sizeof sndbuf);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(ls, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(ls, 1) != 0)
        die("listen on 127.0.0.1:" + std::to_string(port));
    const int fd = ::accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        die("accept");
    ::close(ls);
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // as kesmar's
    const int tfd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (tfd < 0)
        die("timerfd_create");
    const auto periodNs = static_cast<std::int64_t>(period * 1e6);
    const std::int64_t t0 = nowNs();
    std::int64_t k = 0;
    const auto nextDue = [&] {
        ++k;
        const std::int64_t late = nowNs() - (t0 + k * periodNs);
        if (late >= periodNs)
            k += late / periodNs;
        return t0 + k * periodNs;
    };
    // Pieces until one is refused, then a wait for room: blocking send()
    // calls of the same pieces put only 57% of 4 MiB blocks on time here.
    const auto sendBlock = [&] {
        for (std::size_t off = 0; off < blob.size();) {
            const std::size_t len =
                std::min<std::size_t>(static_cast<std::size_t>(piece), blob.size() - off);
            const ssize_t sent = ::send(fd, blob.data() + off, len, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                off += static_cast<std::size_t>(sent);
                continue;
            }
            if (sent < 0 && errno != EAGAIN)
                return false; // the client went
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, -1);
        }
        return true;
    };
    if (viaGlib)
        return glibLoop(tfd, nextDue(), [&] { return sendBlock() ? nextDue() : -1; });
    for (;;) {
        waitUntil(tfd, nextDue());
        if (!sendBlock())
            return 0;
    }
}

// Values spread over the whole signed 32-bit range, packed as kesmar packs them.
int pattern(long records, const std::string &dir)
{
    std::ofstream txt(dir + "/test.txt", std::ios::binary), bin(dir + "/blob", std::ios::binary);
    std::uint32_t x = 0x9E3779B9u;
    for (long i = 0; i < records; ++i) {
        x = x * 1664525u + 1013904223u;
        txt << "w" << i << ",0,0,32," << static_cast<std::int32_t>(x) << "\r\n";
        const unsigned char le[4] = {
            static_cast<unsigned char>(x), static_cast<unsigned char>(x >> 8),
            static_cast<unsigned char>(x >> 16), static_cast<unsigned char>(x >> 24)};
        bin.write(reinterpret_cast<const char *>(le), 4);
    }
    return txt && bin ? 0 : 1;
}

int sample(const std::string &dir)
{
    std::ofstream txt(dir + "/test.txt", std::ios::binary), bin(dir + "/blob", std::ios::binary);
    txt << "sync,0,0,8,170\r\nlength,0,0,16,4660\r\ncounter,0,0,32,16909060\r\ndelta,0,0,16,-2\r\n";
    const unsigned char b[] = {0xAA, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01, 0xFE, 0xFF};
    bin.write(reinterpret_cast<const char *>(b), sizeof b);
    return txt && bin ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> a(argv + 1, argv + argc);
    const auto arg = [&](std::size_t i) { return i < a.size() ? a[i] : std::string(); };
    const std::string mode = arg(0);
    if (mode == "pattern" && a.size() == 3)
        return pattern(std::stol(a[1]), a[2]);
    if (mode == "sample" && a.size() == 2)
        return sample(a[1]);
    if (mode == "period" && a.size() >= 6)
        return periodRow(std::stoi(a[1]), a[2], std::stod(a[3]), std::stod(a[4]), a[5].c_str(),
                         arg(6));
    if (mode == "throughput" && a.size() >= 6)
        return throughputRow(std::stoi(a[1]), a[2], std::stod(a[3]), std::stod(a[4]), a[5].c_str(),
                             arg(6), arg(7) == "quickack");
    if (mode == "idle" && a.size() == 3)
        return idle(std::stoi(a[1]), std::stod(a[2]));
    if (mode == "clock" && a.size() == 3)
        return clockRow(std::stod(a[1]), std::stod(a[2]));
    if (mode == "paced" && (a.size() == 6 || (a.size() == 7 && a[6] == "glib")))
        return paced(std::stoi(a[1]), a[2], std::stod(a[3]), std::stoi(a[4]), std::stol(a[5]),
                     a.size() == 7);
    if (mode == "flood" && a.size() == 5)
        return flood(std::stoi(a[1]), a[2], std::stod(a[3]), std::stod(a[4]));
    std::fprintf(stderr, "usage: see the comment at the top of srvclient.cpp\n");
    return 2;
}
