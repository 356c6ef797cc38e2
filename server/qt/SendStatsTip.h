#pragma once

#include <functional>

#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>

class QWidget;

// The send button's tooltip: how sending has gone since it was last switched
// on. The text is made when the tooltip is asked for and again while it is
// shown, so the counts move under the user's eyes.
class SendStatsTip : public QObject
{
    Q_OBJECT

  public:
    SendStatsTip(QWidget *button, std::function<QString()> text);

    QString text() const;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void refresh();

    QWidget *button_;
    std::function<QString()> text_;
    QPoint shownAt_;
    QString shown_;
    QTimer refresh_;
};
