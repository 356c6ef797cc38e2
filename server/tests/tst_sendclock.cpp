#include <QTest>

#include "QtEventLoop.h"
#include "SendClock.h"

// The send clock on Qt's event loop, in real time.

class tst_SendClock : public QObject
{
    Q_OBJECT

  private slots:
    void ticksOnlyWhenEnabledWithPeriod_data();
    void ticksOnlyWhenEnabledWithPeriod();
    void switchingOffStopsTicks();
    void periodChangeKeepsSending();
    void stallDropsMissedTicksInsteadOfBursting();
};

void tst_SendClock::ticksOnlyWhenEnabledWithPeriod_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("period");
    QTest::addColumn<bool>("ticks");
    QTest::newRow("off, period 10") << false << 10 << false;
    QTest::newRow("on, period 0") << true << 0 << false;
    QTest::newRow("on, negative period") << true << -5 << false;
    QTest::newRow("on, period 10") << true << 10 << true;
}

void tst_SendClock::ticksOnlyWhenEnabledWithPeriod()
{
    QFETCH(bool, enabled);
    QFETCH(int, period);
    QFETCH(bool, ticks);
    QtEventLoop loop;
    int ticked = 0;
    kesmar::SendClock timer(loop, [&] { ++ticked; });
    timer.setInterval(period);
    timer.setEnabled(enabled);
    if (ticks) {
        QTRY_VERIFY(ticked >= 3);
    } else {
        QTest::qWait(60);
        QCOMPARE(ticked, 0);
    }
}

void tst_SendClock::switchingOffStopsTicks()
{
    QtEventLoop loop;
    int ticked = 0;
    kesmar::SendClock timer(loop, [&] { ++ticked; });
    timer.setInterval(5);
    timer.setEnabled(true);
    QTRY_VERIFY(ticked >= 2);
    timer.setEnabled(false);
    ticked = 0;
    QTest::qWait(40);
    QCOMPARE(ticked, 0);
    QVERIFY(!timer.enabled());
}

void tst_SendClock::periodChangeKeepsSending()
{
    QtEventLoop loop;
    int ticked = 0;
    kesmar::SendClock timer(loop, [&] { ++ticked; });
    timer.setInterval(1000);
    timer.setEnabled(true);
    timer.setInterval(5);
    QVERIFY(timer.enabled());
    QTRY_VERIFY(ticked >= 3);
}

void tst_SendClock::stallDropsMissedTicksInsteadOfBursting()
{
    QtEventLoop loop;
    int ticked = 0;
    kesmar::SendClock timer(loop, [&] { ++ticked; });
    timer.setInterval(5);
    timer.setEnabled(true);
    QTRY_VERIFY(ticked >= 1);
    // Hold the event loop for many periods, as a slow handler would.
    QTest::qSleep(100);
    ticked = 0;
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY2(ticked <= 2, qPrintable(QString::number(ticked)));
    QVERIFY(timer.missedTicks() >= 10);
}

QTEST_GUILESS_MAIN(tst_SendClock)
#include "tst_sendclock.moc"
