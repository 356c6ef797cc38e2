#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
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
    void paintHeldNotText();
    void paintWaitsWhileBusy_data();
    void paintWaitsWhileBusy();
};

namespace {

// Counts the repaints a widget actually gets.
class PaintCounter : public QObject
{
  public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int paints = 0;

  protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

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

// A stream of lines every few milliseconds: each is in the document at
// once, but the pane repaints at most once an interval, and the last line
// still shows when the stream stops.
void tst_Pane::paintHeldNotText()
{
    Pane pane;
    pane.resize(233, 161);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    PaintCounter counter(pane.viewport());
    QElapsedTimer clock;
    clock.start();
    const int lines = 60;
    int atLast = 0;
    for (int i = 0; i < lines; ++i) {
        atLast = counter.paints;
        pane.appendText("Send 9 " + std::to_string(i) + "\r\n");
        QCOMPARE(pane.document()->lastBlock().previous().text(),
                 QStringLiteral("Send 9 %1").arg(i));
        QTest::qWait(3);
    }
    const qint64 ms = clock.elapsed();
    QVERIFY2(counter.paints <= ms / Pane::paintIntervalMs + 2,
             qPrintable(QStringLiteral("%1 repaints in %2 ms").arg(counter.paints).arg(ms)));
    QTRY_VERIFY(!pane.paintHeld());
    QTRY_VERIFY(counter.paints > atLast);
}

// A repaint that falls due while the sender is busy waits until it says it
// is done, or for the bound if it never does (a client that stopped reading).
void tst_Pane::paintWaitsWhileBusy_data()
{
    QTest::addColumn<bool>("doneSaid");
    QTest::newRow("until done") << true;
    QTest::newRow("until the bound") << false;
}

void tst_Pane::paintWaitsWhileBusy()
{
    QFETCH(bool, doneSaid);
    Pane pane;
    pane.resize(233, 161);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    bool busy = true;
    pane.deferPaintWhile([&busy] { return busy; });
    pane.appendText(std::string_view("first\r\n"));
    QVERIFY(!pane.paintHeld());
    QTest::qWait(Pane::paintIntervalMs + 10);
    PaintCounter counter(pane.viewport());
    pane.appendText(std::string_view("second\r\n"));
    QVERIFY(pane.paintHeld());
    QTest::qWait(10);
    QCOMPARE(counter.paints, 0);
    if (doneSaid) {
        busy = false;
        pane.paintIfDue();
        QVERIFY(!pane.paintHeld());
    }
    QTRY_VERIFY(!pane.paintHeld());
    QTRY_VERIFY(counter.paints > 0);
}

QTEST_MAIN(tst_Pane)
#include "tst_pane.moc"
