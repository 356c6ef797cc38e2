#pragma once

#include <functional>
#include <memory>
#include <utility>

// A file descriptor's readability, delivered by glib's main loop straight to
// a callback: for the send clock's timerfd, whose every tick would otherwise
// go through a QSocketNotifier, a QEvent and QApplication::notify. Waking
// the process is what a tick costs most, and the pages of Qt that path
// touches each time are a good part of that.
//
// When the fd is the only one ready, the callback runs inside glib's poll
// and the wait goes on from there, with no pass of glib's and Qt's loop
// between: what wakes the loop still wakes it (another fd, a posted event,
// a change in the fds watched, the timeout Qt asked for). A Qt timer
// started from the callback is the exception: the wait would not see it,
// so whatever starts one there wakes the loop (QAbstractEventDispatcher's
// wakeUp).
class GlibWake
{
  public:
    // Null where this thread's Qt dispatcher is not glib's (QT_NO_GLIB, or
    // no dispatcher yet): the caller keeps a QSocketNotifier there.
    static std::unique_ptr<GlibWake> attach(int fd, std::function<void()> readable);
    ~GlibWake();
    GlibWake(const GlibWake &) = delete;
    GlibWake &operator=(const GlibWake &) = delete;

  private:
    explicit GlibWake(std::function<void()> readable) : readable_(std::move(readable)) {}

    std::function<void()> readable_;
    struct _GSource *source_ = nullptr;       // glib's GSource
    struct _GMainContext *context_ = nullptr; // glib's GMainContext
};
