#pragma once

#include <cstdint>
#include <memory>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

// The send clock: an enabled flag and a period in milliseconds. It ticks only
// while enabled with a period above 0, and keeps to a fixed schedule
// (anchor + k * period), so a late tick does not push the later ones back.
// On Linux it wakes from a timerfd at the due nanosecond; elsewhere from a
// precise QTimer, to the millisecond.
class SendTimer : public QObject
{
    Q_OBJECT

  public:
    explicit SendTimer(QObject *parent = nullptr);
    ~SendTimer() override;

    bool enabled() const { return enabled_; }
    void setEnabled(bool on);

    std::int32_t interval() const { return interval_; }
    void setInterval(std::int32_t milliseconds);

    // Ticks that were due while the event loop was held up and were dropped
    // rather than fired in a burst.
    std::int64_t missedTicks() const { return missed_; }

  signals:
    void timeout();
    // Sending was switched on (enabled turned true).
    void switchedOn();

  private:
    std::int64_t nowNs() const;
    void arm(std::int64_t dueNs);
    void disarm();
    void restart();
    void scheduleNext();
    void fire();

    bool enabled_ = false;
    bool armed_ = false;
    std::int32_t interval_ = 0;
    std::int64_t anchorNs_ = 0; // time of tick 0
    std::int64_t nextIndex_ = 0;
    std::int64_t missed_ = 0;
    std::int64_t dueNs_ = 0; // of the armed tick
#ifdef KESMAR_TICK_TRACE
    void traceTick();
    static std::int64_t threadCpuNs();
    std::int64_t blockedAtNs_ = 0; // when the event loop last went to wait
    std::int64_t cpuAtBlockNs_ = 0;
    std::int64_t runWaitNs_ = 0;
#endif

    QTimer timer_;
    QElapsedTimer clock_;
    int timerFd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
};
