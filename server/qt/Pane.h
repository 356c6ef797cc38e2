#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

#include "Controls.h"

// A log or dump pane. Text only ever goes in at the end, so a user who is
// selecting or reading older lines is not disturbed, and the oldest lines
// are dropped past a bound so that a long run cannot exhaust memory.
//
// Appended text is held and goes into the document once a frame, all that
// came since the last frame in one insertion: an insertion, its layout and
// its repaint cost the same for one line as for ten, and the send clock
// shares this thread. A line that comes after a quiet frame goes in at
// once, straight after the event that wrote it; the next ones wait for the
// first append that finds a frame gone by, or for the frame's timer when
// none comes.
class Pane : public QPlainTextEdit, public kesmar::TextPane
{
    Q_OBJECT

  public:
    // A line costs about 600 bytes in the document whatever its length, so a
    // full pane holds some 18 MiB: minutes of history at a 10 ms period with
    // events shown, hours at the slower periods. The oldest lines go
    // trimStep at a time, so the pane holds from maxLines to maxLines +
    // trimStep lines once full.
    static constexpr int maxLines = 30000;
    static constexpr int trimStep = 1000;
    // Ten frames a second: a stream at the shortest period still scrolls
    // smoothly, and each frame costs this thread an insertion, a layout and
    // a repaint (with a round trip to the X server).
    static constexpr int frameMs = 100;
    // A frame of streamLines or more (fifty lines a second) turns half the
    // pane's dozen visible lines over at once, faster than anyone reads
    // them. Frames then come at half the rate, and each draws only the
    // lines that end in view rather than every line on its way past: at 100
    // lines a second, the repaint was half of this thread's work.
    static constexpr int streamLines = 5;
    static constexpr int streamFrameMs = 2 * frameMs;

    explicit Pane(QWidget *parent = nullptr);

    // Appends text whose lines end in CR LF (or LF).
    void appendText(std::string_view text) override;

    // Empties the pane, as the clear button does; text still held goes too.
    void clearText() override;

    // Everything appended since the last clear, held text included.
    QString text() const;
    // True while appended text waits for its frame.
    bool holding() const { return !held_.empty(); }

    // A frame that falls due while busy() is true waits for showIfDue(), or
    // until two frames since the last one, so that the thread's work that
    // busy() names is not held up behind an insertion and its repaint.
    void holdWhile(std::function<bool()> busy) { busy_ = std::move(busy); }
    void showIfDue();

  private:
    int frameLength() const { return streaming_ ? streamFrameMs : frameMs; }
    int holdMs() const { return 2 * frameLength(); } // the bound on a frame held while busy
    bool frameDue() const;
    void frameTimeout();
    void showHeld();
    void trim(bool atBottom);

    std::string held_; // UTF-8, as the handlers compose it
    QElapsedTimer sinceShown_;
    QTimer frame_;
    std::function<bool()> busy_;
    bool streaming_ = false; // the last frame brought streamLines or more
};
