#pragma once

#include <cstdint>
#include <vector>

#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>

class QWidget;
class SendTimer;
class SockCtl;

// The send button's tooltip: the size of the block sent each period, and how
// sending has gone since it was last switched on. The text is made when the
// tooltip is asked for and again while it is shown, so the counts move under
// the user's eyes.
class SendStatsTip : public QObject
{
    Q_OBJECT

  public:
    SendStatsTip(QWidget *button, const SockCtl *socket, SendTimer *timer,
                 const std::vector<std::uint8_t> &block);

    QString text() const;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void switchedOn();
    void refresh();

    QWidget *button_;
    const SockCtl *socket_;
    const SendTimer *timer_;
    const std::vector<std::uint8_t> &block_;
    bool everOn_ = false;
    // The counters when sending was last switched on.
    std::int64_t sent0_ = 0;
    std::int64_t skipped0_ = 0;
    std::int64_t missed0_ = 0;
    QPoint shownAt_;
    QTimer refresh_;
};
