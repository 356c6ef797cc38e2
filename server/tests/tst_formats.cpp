#include <QTest>

#include "Common.h"
#include "LogLine.h"
#include "TickCount.h"

namespace {

std::vector<std::uint8_t> bytesOf(const QByteArray &hex)
{
    const QByteArray raw = QByteArray::fromHex(hex);
    return {raw.begin(), raw.end()};
}

} // namespace

class tst_Formats : public QObject
{
    Q_OBJECT

  private slots:
    void dumpBlock_data();
    void dumpBlock();
    void groupNumbersWiden();
    void logLines_data();
    void logLines();
    void tickTruncation_data();
    void tickTruncation();
    void tickIsMonotonic();
};

void tst_Formats::dumpBlock_data()
{
    QTest::addColumn<QByteArray>("dat");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("worked example, 9 bytes cut to 8")
        << QByteArray("000F107F80A5FEFF41") << 8
        << QByteArray("0000 : 00 0F 10 7F\r\n0001 : 80 A5 FE FF\r\n\r\n");
    QTest::newRow("exactly 8") << QByteArray("0102030405060708") << 8
                               << QByteArray("0000 : 01 02 03 04\r\n0001 : 05 06 07 08\r\n\r\n");
    QTest::newRow("5 bytes: tail left out")
        << QByteArray("0A0B0C0D0E") << 8 << QByteArray("0000 : 0A 0B 0C 0D\r\n\r\n");
    QTest::newRow("3 bytes: lone line end") << QByteArray("010203") << 8 << QByteArray("\r\n");
    QTest::newRow("1 byte") << QByteArray("01") << 8 << QByteArray("\r\n");
    QTest::newRow("empty") << QByteArray("") << 8 << QByteArray("\r\n");
    QTest::newRow("upper case hex")
        << QByteArray("abcdef00") << 8 << QByteArray("0000 : AB CD EF 00\r\n\r\n");
    QTest::newRow("maxBytes 4 of 8")
        << QByteArray("0102030405060708") << 4 << QByteArray("0000 : 01 02 03 04\r\n\r\n");
    QTest::newRow("maxBytes 0") << QByteArray("01020304") << 0 << QByteArray("\r\n");
    QTest::newRow("negative maxBytes") << QByteArray("01020304") << -5 << QByteArray("\r\n");
}

void tst_Formats::dumpBlock()
{
    QFETCH(QByteArray, dat);
    QFETCH(int, maxBytes);
    QFETCH(QByteArray, text);
    QCOMPARE(QByteArray::fromStdString(kesmar::dumpBlock(bytesOf(dat), maxBytes)), text);
}

void tst_Formats::groupNumbersWiden()
{
    const std::vector<std::uint8_t> big(4 * 10001, 0x5A);
    const std::string lines = kesmar::toHexLines(big);
    QCOMPARE(lines.size(), std::size_t{10000 * 20 + 21});
    QVERIFY(lines.ends_with("9999 : 5A 5A 5A 5A\r\n10000 : 5A 5A 5A 5A\r\n"));
}

void tst_Formats::logLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("expected");

    using namespace kesmar::logline;
    QTest::newRow("accept") << QByteArray::fromStdString(accept(3, 5012345))
                            << QByteArray("Accept requestID = 3 5012345\r\n");
    QTest::newRow("receive") << QByteArray::fromStdString(receive(16, 5012400))
                             << QByteArray("Receive 16 5012400\r\n");
    QTest::newRow("close") << QByteArray::fromStdString(kesmar::logline::close(5013000))
                           << QByteArray("Close 5013000\r\n");
    QTest::newRow("send") << QByteArray::fromStdString(send(64, 5012500))
                          << QByteArray("Send 64 5012500\r\n");
    QTest::newRow("negative tick")
        << QByteArray::fromStdString(kesmar::logline::close(-2147483647 - 1))
        << QByteArray("Close -2147483648\r\n");
    QTest::newRow("zero, no padding")
        << QByteArray::fromStdString(send(0, 0)) << QByteArray("Send 0 0\r\n");
}

void tst_Formats::logLines()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, expected);
    QCOMPARE(line, expected);
}

void tst_Formats::tickTruncation_data()
{
    QTest::addColumn<quint64>("ms");
    QTest::addColumn<int>("tick");
    QTest::newRow("small") << quint64(5012345) << 5012345;
    QTest::newRow("last positive") << quint64(2147483647) << 2147483647;
    QTest::newRow("2^31 turns negative") << quint64(2147483648u) << int(-2147483647 - 1);
    QTest::newRow("2^32 wraps to 0") << quint64(4294967296ull) << 0;
    QTest::newRow("2^32 - 1 is -1") << quint64(4294967295ull) << -1;
}

void tst_Formats::tickTruncation()
{
    QFETCH(quint64, ms);
    QFETCH(int, tick);
    QCOMPARE(kesmar::toTick(ms), tick);
}

void tst_Formats::tickIsMonotonic()
{
    const std::int32_t a = kesmar::tickCount();
    QTest::qSleep(20);
    const std::int32_t b = kesmar::tickCount();
    // Unsigned difference survives the wrap to negative.
    const auto diff = static_cast<std::uint32_t>(b) - static_cast<std::uint32_t>(a);
    QVERIFY2(diff >= 15 && diff < 1000, qPrintable(QString::number(diff)));
}

QTEST_APPLESS_MAIN(tst_Formats)
#include "tst_formats.moc"
