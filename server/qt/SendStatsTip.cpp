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
