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
}

void Pane::appendText(std::string_view text)
{
    appendText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void Pane::appendText(const QString &text)
{
    QString plain = text;
    plain.remove(QLatin1Char('\r'));

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
}
