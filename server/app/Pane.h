#pragma once

#include <string_view>

#include <QPlainTextEdit>

// A log or dump pane. Text only ever goes in at the end, so a user who is
// selecting or reading older lines is not disturbed, and the oldest lines
// are dropped past a bound so that a long run cannot exhaust memory.
class Pane : public QPlainTextEdit
{
    Q_OBJECT

  public:
    // A line costs about 600 bytes in the document whatever its length, so a
    // full pane holds some 18 MiB: minutes of history at a 10 ms period with
    // events shown, hours at the slower periods.
    static constexpr int maxLines = 30000;

    explicit Pane(QWidget *parent = nullptr);

    // Appends text whose lines end in CR LF (or LF).
    void appendText(std::string_view text);
    void appendText(const QString &text);

    // Empties the pane, as the clear button does.
    void clearText();
};
