#pragma once

#include <cstdint>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// The send clock: an enabled flag and a period in milliseconds. It ticks only
// while enabled with a period above 0, and keeps to a fixed schedule
// (anchor + k * period), so a late tick does not push the later ones back.
class SendTimer : public QObject
{
    Q_OBJECT

  public:
    explicit SendTimer(QObject *parent = nullptr);

    bool enabled() const { return enabled_; }
    void setEnabled(bool on);

    std::int32_t interval() const { return interval_; }
    void setInterval(std::int32_t milliseconds);

    // Ticks that were due while the event loop was held up and were dropped
    // rather than fired in a burst.
    std::int64_t missedTicks() const { return missed_; }

  signals:
    void timeout();

  private:
    void restart();
    void scheduleNext();
    void fire();

    bool enabled_ = false;
    std::int32_t interval_ = 0;
    QTimer timer_;
    QElapsedTimer clock_;
    std::int64_t anchorNs_ = 0; // time of tick 0 on clock_
    std::int64_t nextIndex_ = 0;
    std::int64_t missed_ = 0;
};
