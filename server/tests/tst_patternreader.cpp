#include <QTest>

#include <filesystem>
#include <fstream>

#include "PatternReader.h"

using kesmar::PatternError;
using kesmar::readPattern;

namespace {

QByteArray hex(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()))
        .toHex(' ')
        .toUpper();
}

} // namespace

class tst_PatternReader : public QObject
{
    Q_OBJECT

  private slots:
    void packs_data();
    void packs();
    void rejects_data();
    void rejects();
    void missingFileNamesPath();
    void readsFileFromDisk();
};

void tst_PatternReader::packs_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("example") << QByteArray("sync,0,0,8,170\r\nlength,0,0,16,4660\r\n"
                                           "counter,0,0,32,16909060\r\ndelta,0,0,16,-2\r\n")
                             << QByteArray("AA 34 12 04 03 02 01 FE FF");
    QTest::newRow("empty file") << QByteArray("") << QByteArray("");
    QTest::newRow("only blank lines") << QByteArray("\r\n  \r\n\n") << QByteArray("");
    QTest::newRow("8 bit max") << QByteArray("x,0,0,8,255") << QByteArray("FF");
    QTest::newRow("8 bit zero") << QByteArray("x,0,0,8,0") << QByteArray("00");
    QTest::newRow("16 bit max") << QByteArray("x,0,0,16,32767") << QByteArray("FF 7F");
    QTest::newRow("16 bit min") << QByteArray("x,0,0,16,-32768") << QByteArray("00 80");
    QTest::newRow("16 bit -1") << QByteArray("x,0,0,16,-1") << QByteArray("FF FF");
    QTest::newRow("32 bit -1") << QByteArray("x,0,0,32,-1") << QByteArray("FF FF FF FF");
    QTest::newRow("32 bit max") << QByteArray("x,0,0,32,2147483647") << QByteArray("FF FF FF 7F");
    QTest::newRow("32 bit min") << QByteArray("x,0,0,32,-2147483648") << QByteArray("00 00 00 80");
    QTest::newRow("one trailing line end") << QByteArray("a,0,0,8,1\r\n") << QByteArray("01");
    QTest::newRow("LF line ends") << QByteArray("a,0,0,8,1\nb,0,0,8,2\n") << QByteArray("01 02");
    QTest::newRow("lone CR line ends") << QByteArray("a,0,0,8,1\rb,0,0,8,2") << QByteArray("01 02");
    QTest::newRow("two records on a line")
        << QByteArray("a,0,0,8,1,b,0,0,8,2") << QByteArray("01 02");
    QTest::newRow("record over two lines") << QByteArray("a,0,0\r\n8,7\r\n") << QByteArray("07");
    QTest::newRow("quoted label with commas")
        << QByteArray("\"a, b, c\",0,0,8,9") << QByteArray("09");
    QTest::newRow("quoted label over a line end")
        << QByteArray("\"a\r\nb\",0,0,8,9") << QByteArray("09");
    QTest::newRow("blanks around fields")
        << QByteArray("  a , 1 ,\t2 , 8 , 3  \r\n") << QByteArray("03");
    QTest::newRow("blank lines between records")
        << QByteArray("a,0,0,8,1\r\n\r\n \r\nb,0,0,8,2\r\n\r\n") << QByteArray("01 02");
    QTest::newRow("ignored fields take any int")
        << QByteArray("lbl,-2147483648,2147483647,8,1") << QByteArray("01");
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                   "a,0,0,8,1")
                                     << QByteArray("01");
    QTest::newRow("empty label") << QByteArray(",0,0,8,1") << QByteArray("01");
}

void tst_PatternReader::packs()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(hex(readPattern(text.toStdString(), "test.txt")), bytes);
}

void tst_PatternReader::rejects_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message");

    QTest::newRow("width 12") << QByteArray("a,0,0,8,1\r\nb,0,0,8,2\r\nc,0,0,12,3\r\n") << 3
                              << "test.txt, line 3: bit width 12 is not 8, 16 or 32";
    QTest::newRow("width 24") << QByteArray("a,0,0,24,1") << 1 << "bit width 24 is not";
    QTest::newRow("width 0") << QByteArray("a,0,0,0,1") << 1 << "bit width 0 is not";
    QTest::newRow("width -8") << QByteArray("a,0,0,-8,1") << 1 << "bit width -8 is not";
    QTest::newRow("width 64") << QByteArray("a,0,0,64,1") << 1 << "bit width 64 is not";
    QTest::newRow("8 bit 256") << QByteArray("x,0,0,8,1\r\nx,0,0,8,256") << 2
                               << "test.txt, line 2: value 256 does not fit in 8 bits (0 to 255)";
    QTest::newRow("8 bit -1") << QByteArray("x,0,0,8,-1") << 1 << "value -1 does not fit in 8";
    QTest::newRow("16 bit 32768") << QByteArray("x,0,0,16,32768") << 1
                                  << "value 32768 does not fit in 16 bits (-32768 to 32767)";
    QTest::newRow("16 bit -32769") << QByteArray("x,0,0,16,-32769") << 1 << "does not fit in 16";
    QTest::newRow("ends mid record")
        << QByteArray("a,0,0,8,1\r\nb,0,0\r\n") << 3 << "ends in the middle of a record";
    QTest::newRow("ends after comma") << QByteArray("a,0,0,8,") << 1 << "ends in the middle";
    QTest::newRow("value beyond 32 bits")
        << QByteArray("a,0,0,32,2147483648") << 1 << "value 2147483648 is outside the 32-bit range";
    QTest::newRow("huge ignored field") << QByteArray("a,99999999999999999999,0,8,1") << 1
                                        << "field 2 99999999999999999999 is outside";
    QTest::newRow("not a number") << QByteArray("a,0,0,8,abc") << 1
                                  << "value \"abc\" is not a decimal number";
    QTest::newRow("hex is not decimal")
        << QByteArray("a,0,0,8,0x10") << 1 << "value \"0x10\" is not a decimal";
    QTest::newRow("plus sign") << QByteArray("a,0,0,8,+1") << 1 << "is not a decimal";
    QTest::newRow("lone minus") << QByteArray("a,0,0,8,-") << 1 << "is not a decimal";
    QTest::newRow("empty width") << QByteArray("a,0,0,,1") << 1 << "bit width is empty";
    QTest::newRow("unclosed quote")
        << QByteArray("a,0,0,8,1\n\"abc,0,0,8,1\n") << 2 << "opening double quote is never closed";
    QTest::newRow("text after quote")
        << QByteArray("\"a\"b,0,0,8,1") << 1 << "unexpected text after the quoted label";
    QTest::newRow("line counted across split record")
        << QByteArray("a,0,0,8,1\r\nb,0,0\r\n8,300") << 3 << "line 3: value 300";
    QTest::newRow("comma before line end leaves a field empty")
        << QByteArray("b,0,0,\r\n8,1") << 1 << "bit width is empty";
}

void tst_PatternReader::rejects()
{
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    QFETCH(QString, message);
    try {
        readPattern(text.toStdString(), "test.txt");
        QFAIL("accepted a bad pattern");
    } catch (const PatternError &e) {
        QCOMPARE(e.line(), line);
        QVERIFY2(QString::fromUtf8(e.what()).contains(message), e.what());
    }
}

void tst_PatternReader::missingFileNamesPath()
{
    const auto path = std::filesystem::temp_directory_path() / "kesmar-no-such-dir" / "test.txt";
    try {
        kesmar::loadPatternFile(path);
        QFAIL("opened a missing file");
    } catch (const PatternError &e) {
        const QString what = QString::fromUtf8(e.what());
        QVERIFY2(what.startsWith("cannot open ") && what.contains("kesmar-no-such-dir") &&
                     what.contains("No such file"),
                 e.what());
    }
}

void tst_PatternReader::readsFileFromDisk()
{
    const auto path = std::filesystem::temp_directory_path() /
                      ("kesmar-pattern-" + std::to_string(QCoreApplication::applicationPid()));
    {
        std::ofstream out(path, std::ios::binary);
        out << "a,0,0,16,258\r\nb,0,0,8,300\r\n";
    }
    try {
        kesmar::loadPatternFile(path);
        QFAIL("accepted 300 in 8 bits");
    } catch (const PatternError &e) {
        // Parse errors name the file as the user knows it, not the full path.
        QVERIFY2(QString::fromUtf8(e.what()).startsWith(
                     QString::fromStdString(path.filename().string() + ", line 2: ")),
                 e.what());
    }
    std::filesystem::remove(path);
}

QTEST_APPLESS_MAIN(tst_PatternReader)
#include "tst_patternreader.moc"
