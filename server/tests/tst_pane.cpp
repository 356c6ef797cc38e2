#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

#include "Pane.h"
#include "QtEventLoop.h"

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
    void linesGoInOncePerFrame();
    void heldWhileBusy_data();
    void heldWhileBusy();
    void heldLinesAcrossAClear();
    void lineHeldByATickShowsAtItsFrame();
    void selectionAndViewKeptAcrossTrim_data();
    void selectionAndViewKeptAcrossTrim();
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
        pane.appendText(a.toStdString());
    QCOMPARE(pane.text(), text);
    QTRY_COMPARE(pane.toPlainText(), text);
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
    QTRY_VERIFY(!pane.holding());
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
    QTRY_COMPARE(pane.toPlainText(), QStringLiteral("one\ntwo\nthree\nfour\n"));
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
    QTRY_COMPARE(pane.toPlainText(), QStringLiteral("Close 5\n"));
}

void tst_Pane::oldestLinesDropped()
{
    Pane pane;
    std::string many;
    for (int i = 0; i < Pane::maxLines + Pane::trimStep; ++i)
        many += "Send 9 " + std::to_string(i) + "\r\n";
    pane.appendText(many);
    pane.appendText(std::string_view("Close 1\r\n"));
    QTRY_VERIFY(!pane.holding());
    // A step over the bound went; one line over it waits for the next step.
    const QStringList got = pane.toPlainText().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(got.size(), Pane::maxLines + 1);
    QCOMPARE(got.last(), QStringLiteral("Close 1"));
    QCOMPARE(got.first(), QStringLiteral("Send 9 %1").arg(Pane::trimStep));
}

// A stream of lines every few milliseconds: each is the pane's at once, in
// order, but they go into the document once a frame, at half the rate once
// the stream turns the view over, and the last ones still go in when the
// stream stops.
void tst_Pane::linesGoInOncePerFrame()
{
    Pane pane;
    pane.resize(233, 161);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QElapsedTimer clock;
    clock.start();
    QList<qint64> insertions;
    connect(pane.document(), &QTextDocument::contentsChange, &pane, [&](int, int, int added) {
        if (added > 0)
            insertions.append(clock.elapsed());
    });
    QString all;
    for (int i = 0; i < 300; ++i) {
        const QString line = QStringLiteral("Send 9 %1\n").arg(i);
        all += line;
        pane.appendText("Send 9 " + std::to_string(i) + "\r\n");
        QCOMPARE(pane.text(), all);
        QTest::qWait(3);
    }
    QTRY_VERIFY(!pane.holding());
    QCOMPARE(pane.toPlainText(), all);
    // The first line at once, a frame of them, then frames at the stream's
    // rate: a line every 3 ms is far past streamLines a frame.
    QVERIFY(insertions.size() >= 3);
    for (qsizetype i = 2; i < insertions.size(); ++i)
        QVERIFY2(insertions[i] - insertions[i - 1] > Pane::frameMs * 3 / 2,
                 qPrintable(QStringLiteral("insertions at %1 and %2 ms")
                                .arg(insertions[i - 1])
                                .arg(insertions[i])));
}

// A frame that falls due while the sender is busy waits until it says it is
// done, or for the bound if it never does (a client that stopped reading).
void tst_Pane::heldWhileBusy_data()
{
    QTest::addColumn<bool>("doneSaid");
    QTest::newRow("until done") << true;
    QTest::newRow("until the bound") << false;
}

void tst_Pane::heldWhileBusy()
{
    QFETCH(bool, doneSaid);
    Pane pane;
    bool busy = true;
    pane.holdWhile([&busy] { return busy; });
    pane.appendText(std::string_view("first\r\n"));
    QVERIFY(!pane.holding());
    QTest::qWait(Pane::frameMs + 10);
    pane.appendText(std::string_view("second\r\n"));
    QVERIFY(pane.holding());
    QTest::qWait(10);
    QCOMPARE(pane.toPlainText(), QStringLiteral("first\n"));
    if (doneSaid) {
        busy = false;
        pane.showIfDue();
        QVERIFY(!pane.holding());
    }
    QTRY_VERIFY(!pane.holding());
    QCOMPARE(pane.toPlainText(), QStringLiteral("first\nsecond\n"));
}

// A send tick may run inside glib's wait, which does not see the frame's
// timer; the line it holds must still go in with nothing else happening.
void tst_Pane::lineHeldByATickShowsAtItsFrame()
{
    Pane pane;
    QtEventLoop loop;
    pane.appendText(std::string_view("first\r\n"));
    loop.wakeAt(loop.nowNs() + 1'000'000, [&pane] { pane.appendText("second\r\n"); });
    QEventLoop wait;
    bool gaveUp = false;
    connect(pane.document(), &QTextDocument::contentsChange, &wait, &QEventLoop::quit);
    QTimer::singleShot(10000, &wait, [&] {
        gaveUp = true;
        wait.quit();
    });
    wait.exec();
    QVERIFY(!gaveUp);
    QCOMPARE(pane.toPlainText(), QStringLiteral("first\nsecond\n"));
}

// Lines held when the user clears go with the rest; those after the clear
// all show, in order, the first of them at once.
void tst_Pane::heldLinesAcrossAClear()
{
    Pane pane;
    for (const char *line : {"a\r\n", "b\r\n", "c\r\n"})
        pane.appendText(std::string_view(line));
    QVERIFY(pane.holding());
    pane.clearText();
    QVERIFY(pane.text().isEmpty());
    pane.appendText(std::string_view("d\r\n"));
    QCOMPARE(pane.toPlainText(), QStringLiteral("d\n"));
    pane.appendText(std::string_view("e\r\n"));
    pane.appendText(std::string_view("f\r\n"));
    QCOMPARE(pane.text(), QStringLiteral("d\ne\nf\n"));
    QTRY_COMPARE(pane.toPlainText(), QStringLiteral("d\ne\nf\n"));
}

// A user who selected a line and scrolled up to it keeps both while the
// pane takes lines in batches and drops its oldest ones a step at a time;
// one at the end keeps following it.
void tst_Pane::selectionAndViewKeptAcrossTrim_data()
{
    QTest::addColumn<bool>("atEnd");
    QTest::newRow("reading further up") << false;
    QTest::newRow("following the end") << true;
}

void tst_Pane::selectionAndViewKeptAcrossTrim()
{
    QFETCH(bool, atEnd);
    Pane pane;
    pane.resize(233, 161);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    std::string full;
    for (int i = 0; i < Pane::maxLines; ++i)
        full += "Send 9 " + std::to_string(i) + "\r\n";
    pane.appendText(full);
    QTRY_VERIFY(!pane.holding());
    const int line = Pane::maxLines - 100;
    QTextCursor sel(pane.document()->findBlockByNumber(line));
    sel.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    pane.setTextCursor(sel);
    QScrollBar *bar = pane.verticalScrollBar();
    bar->setValue(atEnd ? bar->maximum() : line - 2);
    const QString selected = sel.selectedText();
    const QString top = pane.cursorForPosition(QPoint(2, 2)).block().text();

    // Enough batches to pass the bound by a whole step.
    for (int i = 0; i < Pane::trimStep + 10; i += 100) {
        std::string batch;
        for (int j = 0; j < 100; ++j)
            batch += "Receive 16 " + std::to_string(i + j) + "\r\n";
        pane.appendText(batch);
        QTRY_VERIFY(!pane.holding());
    }
    QVERIFY(pane.blockCount() - 1 < Pane::maxLines + Pane::trimStep);
    QCOMPARE(pane.textCursor().selectedText(), selected);
    if (atEnd) {
        QCOMPARE(bar->value(), bar->maximum());
    } else {
        QCOMPARE(pane.cursorForPosition(QPoint(2, 2)).block().text(), top);
    }
}

QTEST_MAIN(tst_Pane)
#include "tst_pane.moc"
