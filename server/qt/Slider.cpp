#include "Slider.h"

#include <QEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

#include "frmMainHandlers.h"

Slider::Slider(Qt::Orientation orientation, QWidget *parent) : QSlider(orientation, parent)
{
    // Every move the user makes (drag, keys, wheel, a click in the groove)
    // comes as an action, before the new value is taken; set-ups by the
    // program do not, so start-up shows no tip.
    connect(this, &QAbstractSlider::actionTriggered, this, &Slider::showTip);
    connect(this, &QAbstractSlider::sliderPressed, this, &Slider::showTip);
}

QString Slider::tipText(int value)
{
    return QString::fromStdString(kesmar::periodTip(value));
}

bool Slider::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        showTip();
        return true;
    }
    return QSlider::event(event);
}

// Under the handle, where the pointer or the eye already is. The position
// is read rather than the value: during an action it is already the new one.
void Slider::showTip()
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.sliderPosition = sliderPosition();
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    QToolTip::showText(mapToGlobal(handle.bottomLeft()), tipText(sliderPosition()), this);
}
