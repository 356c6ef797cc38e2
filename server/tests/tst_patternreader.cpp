#include <QTest>

#include <cstring>
#include <filesystem>
#include <fstream>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <QScopeGuard>
#include <QTemporaryDir>

#include "PatternReader.h"

using kesmar::PatternError;
using kesmar::readPattern;

namespace {

// The same text handed over a few bytes at a time, so that every field and
// line end also falls across the end of a piece.
std::vector<std::uint8_t> readInPieces(const QByteArray &text, qsizetype piece)
{
    qsizetype at = 0;
    const kesmar::TextSource next = [&] {
        const qsizetype n = std::min(piece, text.size() - at);
        const std::string_view part(text.constData() + at, static_cast<std::size_t>(n));
        at += n;
        return part;
    };
    return readPattern(next, "test.txt");
}

// The message from reading text, or an empty string when it is accepted.
QString messageFor(const std::function<void()> &read)
{
    try {
        read();
    } catch (const PatternError &e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

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
    void refusesFile_data();
    void refusesFile();
    void readsFileThroughLink();
    void countsLinesPast32Bits();
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
    for (const qsizetype piece : {1, 2, 7})
        QCOMPARE(hex(readInPieces(text, piece)), bytes);
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
        << QByteArray("a,0,0,8,1\r\nb,0,0\r\n") << 2
        << "test.txt, line 2: the file ends in the middle of a record (3 of 5 fields)";
    QTest::newRow("ends mid record over lines")
        << QByteArray("a,0,0,8,1\r\nb,0\r\n0\r\n8") << 2
        << "line 2: the file ends in the middle of a record (4 of 5 fields)";
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
    QTest::newRow("NUL byte shown escaped")
        << QByteArray("a,0\0,0,8,1", 11) << 1
        << "field 2 \"0\\x00\" is not a decimal number; a file with NUL bytes is most likely "
           "UTF-16 text: save it as ASCII or UTF-8";
    QTest::newRow("UTF-16 LE") << QByteArray("\xFF\xFE"
                                             "a\0,\0",
                                             6)
                               << 1
                               << "test.txt, line 1: the file is UTF-16 text (it starts with a "
                                  "UTF-16 byte order mark); save it as ASCII or UTF-8";
    QTest::newRow("UTF-16 BE") << QByteArray("\xFE\xFF\0a\0,", 6) << 1 << "the file is UTF-16 text";
    QTest::newRow("UTF-32 LE") << QByteArray("\xFF\xFE\0\0a\0\0\0", 8) << 1
                               << "test.txt, line 1: the file is UTF-32 text (it starts with a "
                                  "UTF-32 byte order mark); save it as ASCII or UTF-8";
    QTest::newRow("UTF-32 BE") << QByteArray("\0\0\xFE\xFF\0\0\0a", 8) << 1
                               << "the file is UTF-32 text";
    QTest::newRow("NUL bytes where a record should be")
        << QByteArray("a,0,0,8,1\r\n") + QByteArray(100, '\0') << 2
        << "test.txt, line 2: the file ends in the middle of a record (1 of 5 fields); a file "
           "with NUL bytes where a field should be is most likely not a text file";
    QTest::newRow("long number cut short")
        << "a,0,0,8," + QByteArray(5000, '9') << 1
        << "value " + QString(40, '9') + "... (5000 bytes) is outside the 32-bit range";
    QTest::newRow("long text cut between UTF-8 characters")
        << "a,0,0,8,x" + QString(50, QChar(0xE9)).toUtf8() << 1
        << "value \"x" + QString(39, QChar(0xE9)) + "...\" (101 bytes) is not a decimal number";
    QTest::newRow("bytes that are not UTF-8 escaped")
        << QByteArray("a,0,0,8,\xE9t\xE9\x7F") << 1
        << "value \"\\xE9t\\xE9\\x7F\" is not a decimal number";
    QTest::newRow("UTF-8 character cut by the file's end escaped")
        << QByteArray("a,0,0,8,\xC3") << 1 << "value \"\\xC3\" is not";
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
        QCOMPARE(qint64(e.line()), qint64(line));
        const QString what = QString::fromUtf8(e.what());
        QVERIFY2(what.contains(message), e.what());
        // Fit for a terminal and a message box, whatever the file holds.
        QVERIFY2(std::strlen(e.what()) < 300, e.what());
        QVERIFY2(std::none_of(e.what(), e.what() + std::strlen(e.what()),
                              [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
                 e.what());
        for (const qsizetype piece : {1, 2, 7})
            QCOMPARE(messageFor([&] { readInPieces(text, piece); }), what);
    }
}

void tst_PatternReader::refusesFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    // "PATH" stands for the file's whole path.
    QTest::newRow("missing") << "missing"
                             << "cannot open PATH: No such file or directory";
    QTest::newRow("directory") << "directory"
                               << "cannot open PATH: it is a directory, not a regular file";
#ifndef _WIN32
    QTest::newRow("named pipe")
        << "fifo"
        << "cannot open PATH: it is a named pipe (FIFO), not a regular file";
    QTest::newRow("link to /dev/zero")
        << "zero"
        << "cannot open PATH: it leads to /dev/zero, which is a character device, "
           "not a regular file";
#endif
    QTest::newRow("over 2 GiB") << "huge"
                                << "cannot read PATH: it is 3000000000 bytes, over the limit of "
                                   "2147483647 bytes (2 GiB) for a pattern file";
    QTest::newRow("bad record") << "bad"
                                << "PATH, line 2: value 300 does not fit in 8 bits (0 to 255)";
    QTest::newRow("UTF-16 file") << "utf16"
                                 << "PATH, line 1: the file is UTF-16 text";
#ifdef __linux__
    QTest::newRow("under another program's lease")
        << "leased"
        << "cannot open PATH: another program holds the file; try again once it lets go of it";
#endif
#ifndef _WIN32
    QTest::newRow("name not UTF-8") << "latin1"
                                    << "PATH, line 2: value 300 does not fit in 8 bits (0 to 255)";
#endif
}

void tst_PatternReader::refusesFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    namespace fs = std::filesystem;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    fs::path path = fs::path(dir.path().toStdString()) / "test.txt";
    const auto write = [&](const std::string &text) {
        std::ofstream(path, std::ios::binary) << text;
    };
    if (kind == "directory") {
        fs::create_directory(path);
    } else if (kind == "huge") {
        write("");
        fs::resize_file(path, 3'000'000'000); // sparse: nothing is written
    } else if (kind == "bad") {
        write("a,0,0,16,258\r\nb,0,0,8,300\r\n");
    } else if (kind == "utf16") {
        write(std::string("\xFF\xFE"
                          "a\0,\0",
                          6));
    }
#ifndef _WIN32
    else if (kind == "fifo") {
        QCOMPARE(::mkfifo(path.c_str(), 0600), 0);
    } else if (kind == "zero") {
        fs::create_symlink("/dev/zero", path);
    } else if (kind == "latin1") {
        path = fs::path(dir.path().toStdString()) / "caf\xE9" / "test.txt";
        fs::create_directory(path.parent_path());
        write("a,0,0,16,258\r\nb,0,0,8,300\r\n");
    }
#endif
#ifdef __linux__
    // A write lease of this process stands for another program's: its break
    // would be signalled here, and is ignored.
    int leaseHolder = -1;
    if (kind == "leased") {
        write("x,0,0,8,1\r\n");
        std::signal(SIGIO, SIG_IGN);
        leaseHolder = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (::fcntl(leaseHolder, F_SETLEASE, F_WRLCK) != 0) {
            ::close(leaseHolder);
            QSKIP("this file system grants no leases");
        }
    }
    const auto release = qScopeGuard([&] {
        if (leaseHolder >= 0) {
            ::fcntl(leaseHolder, F_SETLEASE, F_UNLCK);
            ::close(leaseHolder);
        }
    });
#endif
    // A name that is not UTF-8 shows its odd bytes escaped.
    const QString shown = kind == "latin1" ? dir.path() + "/caf\\xE9/test.txt"
                                           : QString::fromStdString(path.string());
    const QString what = messageFor([&] { kesmar::loadPatternFile(path); });
    fs::remove_all(path.parent_path());
    QVERIFY2(what.startsWith(QString(message).replace("PATH", shown)), qPrintable(what));
}

void tst_PatternReader::readsFileThroughLink()
{
    namespace fs = std::filesystem;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const fs::path real = fs::path(dir.path().toStdString()) / "real.txt";
    // Longer than one piece of the file, with records across the joins.
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "r" + std::to_string(i) + ",0,0,16," + std::to_string(i - 10000) + "\r\n";
    std::ofstream(real, std::ios::binary) << text;
    const fs::path link = real.parent_path() / "test.txt";
    std::error_code ec;
    fs::create_symlink(real, link, ec);
    if (ec)
        QSKIP("no symbolic links here");
    QCOMPARE(kesmar::loadPatternFile(link), readPattern(text, "test.txt"));
    QCOMPARE(kesmar::loadPatternFile(link).size(), std::size_t{40000});
}

// 2^31 line ends, then a bad record: the line number must not wrap.
void tst_PatternReader::countsLinesPast32Bits()
{
    const std::string blank(1 << 20, '\n');
    int pieces = 0;
    const kesmar::TextSource next = [&]() -> std::string_view {
        ++pieces;
        if (pieces <= 2048)
            return blank;
        return pieces == 2049 ? "x,0,0,8,300" : "";
    };
    const QString what = messageFor([&] { readPattern(next, "test.txt"); });
    QCOMPARE(what, "test.txt, line 2147483649: value 300 does not fit in 8 bits (0 to 255)");
}

QTEST_APPLESS_MAIN(tst_PatternReader)
#include "tst_patternreader.moc"
