#include "Pane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

Pane::Pane(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    // One block per line; the trailing empty block left by the last CR LF
    // costs one more.
    setMaximumBlockCount(maxLines + 1);

    release_.setSingleShot(true);
    release_.setTimerType(Qt::PreciseTimer);
    connect(&release_, &QTimer::timeout, this, &Pane::releasePaint);
}

void Pane::holdOrReleasePaint()
{
    const qint64 since = sincePaint_.isValid() ? sincePaint_.elapsed() : maxPaintHoldMs;
    if (since < paintIntervalMs) {
        // Lines written inside the interval show with the next append that
        // finds it over. The timer is only for the last of a burst: it runs
        // from the newest held append, so a steady stream never meets it.
        setUpdatesEnabled(false);
        release_.start(paintIntervalMs);
        return;
    }
    if (since < maxPaintHoldMs && busy_ && busy_()) {
        setUpdatesEnabled(false);
        release_.start(static_cast<int>(maxPaintHoldMs - since));
        return;
    }
    releasePaint();
}

void Pane::paintIfDue()
{
    if (!updatesEnabled() && sincePaint_.isValid() && sincePaint_.elapsed() >= paintIntervalMs)
        releasePaint();
}

void Pane::releasePaint()
{
    release_.stop();
    sincePaint_.start();
    if (!updatesEnabled())
        setUpdatesEnabled(true); // repaints the whole pane, scroll bars too
}

void Pane::appendText(std::string_view text)
{
    appendText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void Pane::appendText(const QString &text)
{
    QString plain = text;
    plain.remove(QLatin1Char('\r'));
    holdOrReleasePaint();

    // Follow the end only if the user was already there.
    QScrollBar *bar = verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();

    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(plain);

    if (atBottom)
        bar->setValue(bar->maximum());
}

void Pane::clearText()
{
    clear();
    releasePaint(); // the user asked for it: show the empty pane now
}
