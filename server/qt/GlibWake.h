#pragma once

#include <functional>
#include <memory>

// A file descriptor's readability, delivered by glib's main loop straight to
// a callback: for the send clock's timerfd, whose every tick would otherwise
// go through a QSocketNotifier, a QEvent and QApplication::notify. Waking
// the process is what a tick costs most, and the pages of Qt that path
// touches each time are a good part of that.
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
    struct _GSource *source_ = nullptr; // glib's GSource
};
