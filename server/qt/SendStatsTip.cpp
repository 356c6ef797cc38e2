#include "SendStatsTip.h"

#include <QEvent>
#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

#include <utility>

SendStatsTip::SendStatsTip(QWidget *button, std::function<QString()> text)
    : QObject(button), button_(button), text_(std::move(text))
{
    button->installEventFilter(this);
    refresh_.setInterval(250);
    connect(&refresh_, &QTimer::timeout, this, &SendStatsTip::refresh);
}

QString SendStatsTip::text() const
{
    return text_();
}

bool SendStatsTip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != button_ || event->type() != QEvent::ToolTip)
        return false;
    shownAt_ = static_cast<QHelpEvent *>(event)->globalPos();
    shown_ = text();
    QToolTip::showText(shownAt_, shown_, button_);
    refresh_.start();
    return true;
}

void SendStatsTip::refresh()
{
    if (!QToolTip::isVisible() || !button_->underMouse()) {
        refresh_.stop();
        return;
    }
    // Placing the tip again costs a relayout and a repaint; most refreshes
    // find the counts as they were (sending off, or the tip held still).
    QString now = text();
    if (now == shown_)
        return;
    shown_ = std::move(now);
    QToolTip::showText(shownAt_, shown_, button_);
}
