#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "EventLoop.h"

class QSocketNotifier;
class GlibWake;

// The toolkit-free code's event loop on Qt's: socket notifiers for word
// that a socket can be read or written, queued calls, and the send clock's
// wake-up. On Linux that wake-up comes from a timerfd at the due
// nanosecond, straight from glib's loop where Qt runs on it; elsewhere from
// a precise QTimer, to the millisecond.
class QtEventLoop : public QObject, public kesmar::EventLoop
{
    Q_OBJECT

  public:
    explicit QtEventLoop(QObject *parent = nullptr);
    ~QtEventLoop() override;

    void watch(kesmar::net::Socket s, SocketSink &sink) override;
    void wantWrite(kesmar::net::Socket s, bool on) override;
    void unwatch(kesmar::net::Socket s) override;
    void post(std::function<void()> call) override;
    std::int64_t nowNs() const override;
    void wakeAt(std::int64_t dueNs, std::function<void()> wake) override;
    void cancelWake() override;

  private:
    struct Watched
    {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };
    // Runs one of this loop's callbacks, then the calls it posted.
    template <class F> void dispatch(F &&callback);
    void runPosted();
    void queuePosted();
    void fire();

    std::map<kesmar::net::Socket, Watched> sockets_;
    // A call posted from inside a callback runs as soon as that callback
    // returns, in the same pass: a queued call through Qt would cost a wake
    // of the loop and a pass of its own, on every tick. Posted from anywhere
    // else, the calls wait for one queued call through Qt.
    std::deque<std::function<void()>> posted_;
    int depth_ = 0;
    bool queued_ = false;
    std::function<void()> wake_;
    std::int64_t dueNs_ = 0;
#ifdef KESMAR_TICK_TRACE
    void traceTick();
    static std::int64_t threadCpuNs();
    std::int64_t blockedAtNs_ = 0; // when the event loop last went to wait
    std::int64_t cpuAtBlockNs_ = 0;
    std::int64_t runWaitNs_ = 0;
    int schedstat_ = -1; // this thread's, kept open
    void flushTrace();
    std::string trace_;
    std::int64_t traceFlushedNs_ = 0;
#endif

    QTimer timer_;
    QElapsedTimer clock_;
    int timerFd_ = -1;
    std::uint64_t timerSets_ = 0;
    std::unique_ptr<GlibWake> timerWake_; // where Qt's loop is glib's
    QSocketNotifier *timerNotifier_ = nullptr;
};
