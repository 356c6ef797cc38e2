#include "SharedWake.h"

#include <algorithm>
#include <utility>

namespace kesmar {

SharedWake::SharedWake(EventLoop &loop) : loop_(loop)
{
    for (View &v : views_)
        v.owner = this;
}

SharedWake::~SharedWake()
{
    loop_.cancelWake();
}

void SharedWake::View::wakeAt(std::int64_t due, std::function<void()> call)
{
    wake = std::move(call);
    dueNs = due;
    owner->rearm();
}

void SharedWake::View::cancelWake()
{
    if (!wake)
        return;
    wake = nullptr;
    owner->rearm();
}

void SharedWake::rearm()
{
    // A wake that sets the next one is followed by one rearm, not one each.
    if (firing_)
        return;
    const View *first = nullptr;
    for (const View &v : views_)
        if (v.wake && (!first || v.dueNs < first->dueNs))
            first = &v;
    if (first) {
        armedNs_ = first->dueNs;
        loop_.wakeAt(first->dueNs, [this] { fire(); });
    } else {
        loop_.cancelWake();
    }
}

void SharedWake::fire()
{
    // The loop judged the wake due; what it was set for counts as now, so
    // that a loop that rounds its timer never wakes to nothing.
    const std::int64_t now = std::max(loop_.nowNs(), armedNs_);
    firing_ = true;
    // Each view that is due wakes once, earliest first; one that sets its
    // next wake-up in the past waits for the loop's next turn like any other,
    // so that it cannot starve the sockets.
    std::array<View *, viewCount> due{};
    std::size_t n = 0;
    for (View &v : views_)
        if (v.wake && v.dueNs <= now)
            due[n++] = &v;
    static_assert(viewCount == 2, "orders two views at most");
    if (n == 2 && due[1]->dueNs < due[0]->dueNs)
        std::swap(due[0], due[1]);
    for (std::size_t i = 0; i < n; ++i) {
        // Cancelled by the wake before it.
        if (!due[i]->wake || due[i]->dueNs > now)
            continue;
        std::function<void()> wake = std::exchange(due[i]->wake, nullptr);
        wake();
    }
    firing_ = false;
    rearm();
}

} // namespace kesmar
