#pragma once

#include <functional>

// A file descriptor's readability, delivered by glib's main loop straight to
// a callback: for the send clock's timerfd, whose every tick would otherwise
// go through a QSocketNotifier, a QEvent and QApplication::notify. Waking
// the process is what a tick costs most, and the pages of Qt that path
// touches each time are a good part of that. Used only where Qt's own
// dispatcher runs on glib; elsewhere available() is false and the caller
// keeps a QSocketNotifier.
class GlibWake
{
  public:
    GlibWake(int fd, std::function<void()> readable);
    ~GlibWake();
    GlibWake(const GlibWake &) = delete;
    GlibWake &operator=(const GlibWake &) = delete;

    bool available() const { return source_ != nullptr; }

  private:
    struct _GSource *source_ = nullptr; // glib's GSource

    std::function<void()> readable_;
};
