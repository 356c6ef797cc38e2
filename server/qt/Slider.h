#pragma once

#include <QSlider>
#include <QString>

// The period slider. The platform slider the window was designed for shows
// its value in a tip beside the handle while it is dragged or moved with the
// keys; this one does the same, and on hover too, since nothing else in the
// window shows the period.
class Slider : public QSlider
{
    Q_OBJECT

  public:
    explicit Slider(Qt::Orientation orientation, QWidget *parent = nullptr);

    // The tip for a period in milliseconds.
    static QString tipText(int value);

  protected:
    bool event(QEvent *event) override;

  private:
    void showTip();
};
