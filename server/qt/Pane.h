#pragma once

#include <functional>
#include <string_view>

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

#include "Controls.h"

// A log or dump pane. Text only ever goes in at the end, so a user who is
// selecting or reading older lines is not disturbed, and the oldest lines
// are dropped past a bound so that a long run cannot exhaust memory.
//
// The document always holds everything appended, at once; only painting is
// held back, to at most one repaint per paintIntervalMs. The send clock
// shares this thread, and a repaint per 10 ms tick cost it a millisecond or
// more each time. A repaint that is due is done straight after the append
// that finds it due, so it follows the event that wrote the line rather than
// landing on the next one.
class Pane : public QPlainTextEdit, public kesmar::TextPane
{
    Q_OBJECT

  public:
    // A line costs about 600 bytes in the document whatever its length, so a
    // full pane holds some 18 MiB: minutes of history at a 10 ms period with
    // events shown, hours at the slower periods.
    static constexpr int maxLines = 30000;
    static constexpr int paintIntervalMs = 40;

    explicit Pane(QWidget *parent = nullptr);

    // Appends text whose lines end in CR LF (or LF).
    void appendText(std::string_view text) override;
    void appendText(const QString &text);

    // Empties the pane, as the clear button does.
    void clearText() override;

    // True while appended text waits for its repaint.
    bool paintHeld() const { return !updatesEnabled(); }

    // A repaint that falls due while busy() is true waits for paintIfDue(),
    // or for maxPaintHoldMs since the last one, so that the thread's work
    // that busy() names is not held up behind it.
    static constexpr int maxPaintHoldMs = 100;
    void deferPaintWhile(std::function<bool()> busy) { busy_ = std::move(busy); }
    void paintIfDue();

  private:
    void holdOrReleasePaint();
    void releasePaint();

    QElapsedTimer sincePaint_;
    QTimer release_;
    std::function<bool()> busy_;
};
