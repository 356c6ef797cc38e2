// Cost of one log line appended to a pane as it fills: mean time per line
// over the first and the last 10% of the appends.
#include <chrono>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QTextBlock>
#include <QTextCursor>

#include "LogLine.h"
#include "Pane.h"

namespace {

struct Result
{
    double firstUs, lastUs, totalS;
    int lines;
};

Result run(int total, bool withSelection)
{
    Pane pane;
    pane.resize(233, 161);
    pane.show();
    std::vector<double> per(static_cast<std::size_t>(total));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < total; ++i) {
        if (withSelection && i == total / 2) {
            // A user selects a line in the middle of the log and keeps it.
            QTextCursor sel(pane.document()->findBlockByNumber(pane.blockCount() / 2));
            sel.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            pane.setTextCursor(sel);
        }
        const auto t0 = std::chrono::steady_clock::now();
        pane.appendText(kesmar::logline::receive(16, 5012400 + i));
        if (i % 100 == 99)
            QCoreApplication::processEvents();
        per[static_cast<std::size_t>(i)] =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    }
    const double totalS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int tenth = total / 10;
    double first = 0, last = 0;
    for (int i = 0; i < tenth; ++i) {
        first += per[static_cast<std::size_t>(i)];
        last += per[static_cast<std::size_t>(total - tenth + i)];
    }
    const int held = pane.toPlainText().count(QLatin1Char('\n'));
    return {first / tenth, last / tenth, totalS, held};
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 200000;
    std::printf("%-16s %8s %12s %12s %7s %8s %12s\n", "case", "lines", "first10% us",
                "last10% us", "ratio", "total s", "lines held");
    for (bool sel : {false, true}) {
        const Result r = run(total, sel);
        std::printf("%-16s %8d %12.2f %12.2f %7.2f %8.2f %12d\n", sel ? "with selection" : "plain",
                    total, r.firstUs, r.lastUs, r.lastUs / r.firstUs, r.totalS, r.lines);
    }
    return 0;
}
