#include "GlibWake.h"

#include <QAbstractEventDispatcher>
#include <QThread>

#include <glib.h>

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
    g_main_context_unref(context);
    wake->source_ = &source->base;
    return wake;
}

GlibWake::~GlibWake()
{
    g_source_destroy(source_);
    g_source_unref(source_);
}
