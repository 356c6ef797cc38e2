#include "SendStatsTip.h"

#include <QEvent>
#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

#include "SendTimer.h"
#include "SockCtl.h"

SendStatsTip::SendStatsTip(QWidget *button, const SockCtl *socket, SendTimer *timer,
                           const std::vector<std::uint8_t> &block)
    : QObject(button), button_(button), socket_(socket), timer_(timer), block_(block)
{
    button->installEventFilter(this);
    connect(timer, &SendTimer::switchedOn, this, &SendStatsTip::switchedOn);
    refresh_.setInterval(250);
    connect(&refresh_, &QTimer::timeout, this, &SendStatsTip::refresh);
}

void SendStatsTip::switchedOn()
{
    everOn_ = true;
    sent0_ = socket_->sentCopies();
    skipped0_ = socket_->skippedSends();
    missed0_ = timer_->missedTicks();
}

QString SendStatsTip::text() const
{
    // An empty test.txt starts the server all the same; this says why nothing
    // ever arrives.
    const QString block = block_.empty()
                              ? QStringLiteral("ブロック 0 バイト: 送るものがありません\n")
                              : QStringLiteral("ブロック %1 バイト\n").arg(block_.size());
    if (!everOn_)
        return block + QStringLiteral("まだ送信していません");
    return block + QStringLiteral("送信を始めてから\n"
                                  "送信したブロック: %1\n"
                                  "相手の受信が追いつかず飛ばしたブロック: %2\n"
                                  "処理が遅れて抜けた周期: %3")
                       .arg(socket_->sentCopies() - sent0_)
        .arg(socket_->skippedSends() - skipped0_)
        .arg(timer_->missedTicks() - missed0_);
}

bool SendStatsTip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != button_ || event->type() != QEvent::ToolTip)
        return false;
    shownAt_ = static_cast<QHelpEvent *>(event)->globalPos();
    QToolTip::showText(shownAt_, text(), button_);
    refresh_.start();
    return true;
}

void SendStatsTip::refresh()
{
    if (!QToolTip::isVisible() || !button_->underMouse()) {
        refresh_.stop();
        return;
    }
    QToolTip::showText(shownAt_, text(), button_);
}
