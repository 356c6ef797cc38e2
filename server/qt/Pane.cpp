#include "Pane.h"

#include <algorithm>

#include <QAbstractEventDispatcher>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextBlock>
#include <QTextCursor>

namespace {

// Repaints only when what it shows changes: the handle's place and size,
// and whether it has reached an end. Once the pane holds a few thousand
// lines most frames move neither by a pixel, and the scroll bar's repaint
// cost as much as the text's. While the pane takes a frame's lines, the
// range grows before the view follows the end: only where the handle ends
// up counts.
class PaneScrollBar final : public QScrollBar
{
  public:
    using QScrollBar::QScrollBar;

    void hold() { held_ = true; }
    void release()
    {
        held_ = false;
        if (changed_ && look() != painted_)
            update();
        changed_ = false;
    }

  protected:
    void sliderChange(SliderChange change) override
    {
        if (held_ && change != SliderOrientationChange) {
            changed_ = true;
            return;
        }
        if (change != SliderOrientationChange && look() == painted_)
            return;
        QScrollBar::sliderChange(change);
    }

    void paintEvent(QPaintEvent *event) override
    {
        painted_ = look();
        QScrollBar::paintEvent(event);
    }

  private:
    struct Look
    {
        QRect handle;
        bool atStart = false;
        bool atEnd = false;
        bool operator==(const Look &) const = default;
    };

    Look look() const
    {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        return {
            style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this),
            value() == minimum(), value() == maximum()};
    }

    Look painted_;
    bool held_ = false;
    bool changed_ = false;
};

QString plainText(std::string_view utf8)
{
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    text.remove(QLatin1Char('\r'));
    return text;
}

} // namespace

Pane::Pane(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    setVerticalScrollBar(new PaneScrollBar(Qt::Vertical, this));

    frame_.setSingleShot(true);
    frame_.setTimerType(Qt::PreciseTimer);
    connect(&frame_, &QTimer::timeout, this, &Pane::frameTimeout);
}

bool Pane::frameDue() const
{
    const qint64 since = sinceShown_.isValid() ? sinceShown_.elapsed() : holdMs();
    // A millisecond early still counts: lines that come with a steady clock
    // would otherwise miss the frame by a hair and wait a period more.
    if (since < frameLength() - 1)
        return false;
    return since >= holdMs() || !busy_ || !busy_();
}

void Pane::appendText(std::string_view text)
{
    held_.append(text);
    if (frameDue()) {
        showHeld();
        return;
    }
    // For the last lines of a burst; a steady stream shows before it fires.
    if (!frame_.isActive()) {
        frame_.start(frameLength() * 3 / 2);
        // Lines come from send ticks, which may run inside glib's wait
        // (GlibWake), and that wait would not see the timer.
        if (auto *loop = QAbstractEventDispatcher::instance())
            loop->wakeUp();
    }
}

void Pane::showIfDue()
{
    if (!held_.empty() && frameDue())
        showHeld();
}

void Pane::frameTimeout()
{
    if (held_.empty())
        return;
    if (frameDue()) {
        showHeld();
        return;
    }
    // Still busy: wait out the bound.
    frame_.start(static_cast<int>(std::max<qint64>(1, holdMs() - sinceShown_.elapsed())));
}

void Pane::showHeld()
{
    frame_.stop();
    sinceShown_.start();
    if (held_.empty())
        return;
    streaming_ = std::count(held_.begin(), held_.end(), '\n') >= streamLines;
    const QString text = plainText(held_);
    held_.clear();

    // Follow the end only if the user was already there.
    auto *bar = static_cast<PaneScrollBar *>(verticalScrollBar());
    const bool atBottom = bar->value() == bar->maximum();

    bar->hold();
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    trim(atBottom);
    if (atBottom)
        bar->setValue(bar->maximum());
    bar->release();
}

// One line is one block, and the last CR LF leaves an empty block after it.
void Pane::trim(bool atBottom)
{
    const int over = blockCount() - 1 - maxLines;
    if (over < trimStep)
        return;
    QScrollBar *bar = verticalScrollBar();
    const int top = bar->value(); // in lines: nothing wraps
    // To a position, not block by block: each step lays out the block it
    // lands on.
    QTextCursor head(document());
    head.setPosition(document()->findBlockByNumber(over).position(), QTextCursor::KeepAnchor);
    head.removeSelectedText();
    // A reader further up keeps the lines he was reading in view.
    if (!atBottom)
        bar->setValue(std::max(0, top - over));
}

QString Pane::text() const
{
    return toPlainText() + plainText(held_);
}

void Pane::clearText()
{
    held_.clear();
    frame_.stop();
    clear();
    // The user asked for it; the next line shows at once.
    sinceShown_.invalidate();
    streaming_ = false;
}
