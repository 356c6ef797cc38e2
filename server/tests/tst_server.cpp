#include <QCheckBox>
#include <QHelpEvent>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include "LoopbackHelpers.h"
#include "frmMain.h"

using namespace testing_loopback;

namespace {

const QByteArray samplePattern = "sync,0,0,8,170\r\nlength,0,0,16,4660\r\n"
                                 "counter,0,0,32,16909060\r\ndelta,0,0,16,-2\r\n";

QString sendButtonTip(frmMain *w)
{
    const QPoint at(5, 5);
    QHelpEvent help(QEvent::ToolTip, at, w->cmdSend->mapToGlobal(at));
    QCoreApplication::sendEvent(w->cmdSend, &help);
    return QToolTip::text();
}

} // namespace

// The Qt window serving a real loopback client on port 20319, for what only
// its own wiring shows: its check boxes as the handlers read them, and the
// send button's tip as it shows their text. What the handlers do is
// tst_core's, on each event loop, Qt's among them; the buttons and the
// slider are tst_window's.
class tst_Server : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void checkBoxesReachTheHandlers();
    void sendTipShowsTheHandlersText();

  private:
    QTemporaryDir dir;
    frmMain *w = nullptr;
    testing_loopback::ClientSet clients;
};

void tst_Server::initTestCase()
{
    QVERIFY(dir.isValid());
    QFile f(dir.filePath("test.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(samplePattern);
}

void tst_Server::init()
{
    w = new frmMain;
    w->load(dir.filePath("test.txt"));
    QVERIFY(w->askServer->isListening());
}

void tst_Server::cleanup()
{
    clients.clear();
    delete w;
    w = nullptr;
}

// Checked, the events are hidden and the bytes dumped; unchecked, the other
// way round.
void tst_Server::checkBoxesReachTheHandlers()
{
    w->chkEvent->setChecked(true);
    w->chkDump->setChecked(true);
    QTcpSocket *c = clients.connect(frmMain::port);
    QTRY_VERIFY(w->askServer->isConnected());
    c->write(QByteArray::fromHex("000F107F80A5FEFF4142434445464748"));
    const QString dumped = QStringLiteral("0000 : 00 0F 10 7F\n0001 : 80 A5 FE FF\n\n");
    QTRY_COMPARE(w->txtDump->text(), dumped);
    QCOMPARE(lines(w->txtStat).size(), 1);
    QVERIFY(lines(w->txtStat).at(0).startsWith("Accept requestID = "));

    w->chkEvent->setChecked(false);
    w->chkDump->setChecked(false);
    c->write("xyzw");
    QTRY_COMPARE(countStarting(w->txtStat, "Receive 4 "), 1);
    QCOMPARE(w->txtDump->text(), dumped);
}

// The tip is made from the handlers' text each time it is asked for.
void tst_Server::sendTipShowsTheHandlersText()
{
    QCOMPARE(sendButtonTip(w), QStringLiteral("ブロック 9 バイト\nまだ送信していません"));
    w->cmdSend->click();
    QVERIFY2(sendButtonTip(w).startsWith(QStringLiteral("ブロック 9 バイト\n送信を始めてから\n")),
             qPrintable(sendButtonTip(w)));
}

QTEST_MAIN(tst_Server)
#include "tst_server.moc"
