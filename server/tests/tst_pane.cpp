#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

#include "Pane.h"

class tst_Pane : public QObject
{
    Q_OBJECT

  private slots:
    void linesShowOneEach_data();
    void linesShowOneEach();
    void appendKeepsUserSelection();
    void appendGoesToEndWhateverTheCaret();
    void userCannotType();
    void clearThenFirstLine();
    void oldestLinesDropped();
};

void tst_Pane::linesShowOneEach_data()
{
    QTest::addColumn<QStringList>("appends");
    QTest::addColumn<QString>("text");
    QTest::newRow("log lines") << QStringList{"Close 1\r\n", "Send 9 2\r\n"}
                               << "Close 1\nSend 9 2\n";
    QTest::newRow("dump block with empty line")
        << QStringList{"0000 : 00 0F 10 7F\r\n\r\n", "\r\n"} << "0000 : 00 0F 10 7F\n\n\n";
    QTest::newRow("LF only") << QStringList{"a\n", "b\n"} << "a\nb\n";
}

void tst_Pane::linesShowOneEach()
{
    QFETCH(QStringList, appends);
    QFETCH(QString, text);
    Pane pane;
    for (const QString &a : appends)
        pane.appendText(a);
    QCOMPARE(pane.toPlainText(), text);
}

void tst_Pane::appendKeepsUserSelection()
{
    Pane pane;
    pane.appendText(std::string_view("Accept requestID = 1 100\r\nClose 200\r\n"));
    // The user selects the first line to copy it.
    QTextCursor sel(pane.document());
    sel.movePosition(QTextCursor::Start);
    sel.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    pane.setTextCursor(sel);
    pane.appendText(std::string_view("Accept requestID = 2 300\r\n"));
    QCOMPARE(pane.textCursor().selectedText(), QStringLiteral("Accept requestID = 1 100"));
    QCOMPARE(pane.toPlainText(),
             QStringLiteral("Accept requestID = 1 100\nClose 200\nAccept requestID = 2 300\n"));
    pane.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Accept requestID = 1 100"));
}

void tst_Pane::appendGoesToEndWhateverTheCaret()
{
    Pane pane;
    pane.appendText(std::string_view("one\r\ntwo\r\n"));
    QTextCursor caret(pane.document());
    caret.setPosition(2);
    pane.setTextCursor(caret);
    pane.appendText(std::string_view("three\r\n"));
    pane.appendText(std::string_view("four\r\n"));
    QCOMPARE(pane.toPlainText(), QStringLiteral("one\ntwo\nthree\nfour\n"));
}

void tst_Pane::userCannotType()
{
    Pane pane;
    pane.appendText(std::string_view("x\r\n"));
    pane.show();
    pane.setFocus();
    QTest::keyClicks(&pane, "typed");
    QCOMPARE(pane.toPlainText(), QStringLiteral("x\n"));
}

void tst_Pane::clearThenFirstLine()
{
    Pane pane;
    pane.appendText(std::string_view("old\r\n"));
    pane.clearText();
    QVERIFY(pane.toPlainText().isEmpty());
    pane.appendText(std::string_view("Close 5\r\n"));
    QCOMPARE(pane.toPlainText(), QStringLiteral("Close 5\n"));
}

void tst_Pane::oldestLinesDropped()
{
    Pane pane;
    std::string many;
    for (int i = 0; i < Pane::maxLines + 10; ++i)
        many += "Send 9 " + std::to_string(i) + "\r\n";
    pane.appendText(many);
    pane.appendText(std::string_view("Close 1\r\n"));
    const QStringList got = pane.toPlainText().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(got.size(), Pane::maxLines);
    QCOMPARE(got.last(), QStringLiteral("Close 1"));
    QCOMPARE(got.first(), QStringLiteral("Send 9 11"));
}

QTEST_MAIN(tst_Pane)
#include "tst_pane.moc"
