#include "GlibWake.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <QAbstractEventDispatcher>
#include <QThread>

#include <glib.h>
#include <time.h>

namespace {

struct WakeSource
{
    GSource base;
    std::function<void()> *readable;
};

// With no prepare or check of its own, the source is ready when its fd
// polled readable.
gboolean dispatchReadable(GSource *source, GSourceFunc, gpointer)
{
    (*reinterpret_cast<WakeSource *>(source)->readable)();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs funcs = {nullptr, nullptr, dispatchReadable, nullptr, nullptr, nullptr};

// This thread's wakes, for its context's poll function below. The poll
// function itself is shared: another thread that ever polled the same
// context would find no wakes of its own and poll as glib does.
struct Attached
{
    int fd;
    std::function<void()> *readable;
};
thread_local std::vector<Attached> attached;
GPollFunc plainPoll = g_poll;

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// A pass of the loop for a tick that only sends (every source's prepare and
// check, Qt's timers, its posted events and the window system's queue)
// cost this thread about what the tick itself does. glib calls its poll
// function with the context unlocked, as it calls a source's dispatch. A
// loop of a handler's own, opened here, would rewrite the array of fds
// that the pass outside still holds; the only one, the fatal error's box,
// ends the program.
gint pollRunningWakes(GPollFD *fds, guint count, gint timeoutMs)
{
    const std::int64_t deadline = timeoutMs > 0 ? monotonicNs() + timeoutMs * 1'000'000LL : 0;
    for (;;) {
        const gint ready = plainPoll(fds, count, timeoutMs);
        if (ready != 1)
            return ready;
        const GPollFD *hit =
            std::find_if(fds, fds + count, [](const GPollFD &p) { return p.revents != 0; });
        const auto wake = std::find_if(attached.begin(), attached.end(),
                                       [hit](const Attached &a) { return a.fd == hit->fd; });
        if (wake == attached.end() || hit->revents != G_IO_IN)
            return ready;
        (*wake->readable)();
        if (timeoutMs > 0) {
            const std::int64_t left = deadline - monotonicNs();
            timeoutMs = left > 0 ? static_cast<gint>((left + 999'999) / 1'000'000) : 0;
        }
        // glib's check reads what the last poll found.
        if (timeoutMs == 0)
            return plainPoll(fds, count, 0);
    }
}

} // namespace

std::unique_ptr<GlibWake> GlibWake::attach(int fd, std::function<void()> readable)
{
    // Qt runs this thread's loop on the thread-default glib context only
    // when its dispatcher is glib's.
    const auto *dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib"))
        return nullptr;
    std::unique_ptr<GlibWake> wake(new GlibWake(std::move(readable)));
    GMainContext *context = g_main_context_ref_thread_default();
    auto *source = reinterpret_cast<WakeSource *>(g_source_new(&funcs, sizeof(WakeSource)));
    source->readable = &wake->readable_;
    g_source_add_unix_fd(&source->base, fd, G_IO_IN);
    // At Qt's own sources' priority, and like them delivered inside a
    // nested loop (a menu's, a dialog's), so ticks go on there too.
    g_source_set_can_recurse(&source->base, TRUE);
    g_source_attach(&source->base, context);
    if (const GPollFunc current = g_main_context_get_poll_func(context);
        current != pollRunningWakes) {
        plainPoll = current;
        g_main_context_set_poll_func(context, pollRunningWakes);
    }
    attached.push_back({fd, &wake->readable_});
    wake->source_ = &source->base;
    wake->context_ = context;
    return wake;
}

GlibWake::~GlibWake()
{
    std::erase_if(attached, [this](const Attached &a) { return a.readable == &readable_; });
    if (attached.empty() && g_main_context_get_poll_func(context_) == pollRunningWakes)
        g_main_context_set_poll_func(context_, plainPoll);
    g_source_destroy(source_);
    g_source_unref(source_);
    g_main_context_unref(context_);
}
