#include <QSignalSpy>
#include <QTest>

#include "SendTimer.h"

class tst_SendTimer : public QObject
{
    Q_OBJECT

  private slots:
    void ticksOnlyWhenEnabledWithPeriod_data();
    void ticksOnlyWhenEnabledWithPeriod();
    void switchingOffStopsTicks();
    void periodChangeKeepsSending();
    void stallDropsMissedTicksInsteadOfBursting();
};

void tst_SendTimer::ticksOnlyWhenEnabledWithPeriod_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("period");
    QTest::addColumn<bool>("ticks");
    QTest::newRow("off, period 10") << false << 10 << false;
    QTest::newRow("on, period 0") << true << 0 << false;
    QTest::newRow("on, negative period") << true << -5 << false;
    QTest::newRow("on, period 10") << true << 10 << true;
}

void tst_SendTimer::ticksOnlyWhenEnabledWithPeriod()
{
    QFETCH(bool, enabled);
    QFETCH(int, period);
    QFETCH(bool, ticks);
    SendTimer timer;
    QSignalSpy spy(&timer, &SendTimer::timeout);
    timer.setInterval(period);
    timer.setEnabled(enabled);
    if (ticks) {
        QTRY_VERIFY(spy.count() >= 3);
    } else {
        QTest::qWait(60);
        QCOMPARE(spy.count(), 0);
    }
}

void tst_SendTimer::switchingOffStopsTicks()
{
    SendTimer timer;
    QSignalSpy spy(&timer, &SendTimer::timeout);
    timer.setInterval(5);
    timer.setEnabled(true);
    QTRY_VERIFY(spy.count() >= 2);
    timer.setEnabled(false);
    spy.clear();
    QTest::qWait(40);
    QCOMPARE(spy.count(), 0);
    QVERIFY(!timer.enabled());
}

void tst_SendTimer::periodChangeKeepsSending()
{
    SendTimer timer;
    QSignalSpy spy(&timer, &SendTimer::timeout);
    timer.setInterval(1000);
    timer.setEnabled(true);
    timer.setInterval(5);
    QVERIFY(timer.enabled());
    QTRY_VERIFY(spy.count() >= 3);
}

void tst_SendTimer::stallDropsMissedTicksInsteadOfBursting()
{
    SendTimer timer;
    QSignalSpy spy(&timer, &SendTimer::timeout);
    timer.setInterval(5);
    timer.setEnabled(true);
    QTRY_VERIFY(spy.count() >= 1);
    // Hold the event loop for many periods, as a slow handler would.
    QTest::qSleep(100);
    spy.clear();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY2(spy.count() <= 2, qPrintable(QString::number(spy.count())));
    QVERIFY(timer.missedTicks() >= 10);
}

QTEST_GUILESS_MAIN(tst_SendTimer)
#include "tst_sendtimer.moc"
