// Cost of one log line appended to a pane as it fills past its bound: mean
// time per line over the first and the last tenth of the appends, the event
// loop turning every 100 lines as it would between socket reads.
//   pane_bench [lines, default 200000] [runs of each case, default 3]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
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
    int linesHeld;
    bool selectionKept;
};

// Turns the event loop until the pane has taken all it holds (a frame at
// most, or the bound while busy).
void showAll(Pane &pane)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pane.holding() && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

// What a user does with the mouse: selects a line well above the end, one
// that stays held through the next `survive` appends.
QString selectLine(Pane &pane, int survive)
{
    const int fromEnd =
        std::min(pane.blockCount() / 2, std::max(1, (Pane::maxLines - survive) / 2));
    QTextCursor sel(pane.document()->findBlockByNumber(pane.blockCount() - 1 - fromEnd));
    sel.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    pane.setTextCursor(sel);
    return sel.selectedText();
}

Result run(int total, bool withSelection)
{
    Pane pane;
    pane.resize(233, 161); // txtStat in the window
    pane.show();
    QCoreApplication::processEvents();

    const int tenth = std::max(1, total / 10);
    const int firstSelect = std::min(100, total - 1), lastSelect = total - tenth;
    QString selected;
    std::vector<double> us(static_cast<std::size_t>(total));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < total; ++i) {
        // A selection is present through both measured tenths; the first one
        // has long been dropped off the top by the time the second is made.
        if (withSelection && (i == firstSelect || i == lastSelect))
            selected = selectLine(pane, tenth);
        const auto t0 = std::chrono::steady_clock::now();
        pane.appendText(kesmar::logline::receive(16, 5012400 + i));
        if (i % 100 == 99)
            QCoreApplication::processEvents();
        us[static_cast<std::size_t>(i)] =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                .count();
    }
    const double totalS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    showAll(pane);

    double first = 0, last = 0;
    for (int i = 0; i < tenth; ++i) {
        first += us[static_cast<std::size_t>(i)];
        last += us[static_cast<std::size_t>(total - tenth + i)];
    }
    // Every line ends in CR LF, so the last block is the empty one after it;
    // the oldest go a step at a time, so a full pane holds from maxLines to
    // maxLines + trimStep.
    const int held = pane.blockCount() - 1;
    const bool kept = withSelection && pane.textCursor().selectedText() == selected;
    return {first / tenth, last / tenth, totalS, held, kept};
}

// Resident set of this process in KiB (Linux), or 0.
long rssKiB()
{
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    std::fclose(f);
    return kib;
}

// What a full pane holds in memory: one pane filled to its bound with log
// lines, then a second (the first still alive, so its memory is not reused)
// with dump lines; RSS before and after each.
void memoryPerLine()
{
    std::vector<std::unique_ptr<Pane>> panes;
    for (const std::string_view line : {"Receive 32768 5012400", "0000 : 00 0F 10 7F"}) {
        const std::string withEnd = std::string(line) + "\r\n";
        const long before = rssKiB();
        auto &pane = panes.emplace_back(std::make_unique<Pane>());
        pane->resize(233, 161);
        pane->show();
        for (int i = 0; i < Pane::maxLines; ++i) {
            pane->appendText(withEnd);
            if (i % 100 == 99)
                QCoreApplication::processEvents();
        }
        showAll(*pane);
        const long after = rssKiB();
        std::printf("a full pane of \"%.*s\" lines: %d lines, %.1f MiB RSS, %.0f bytes a line\n",
                    static_cast<int>(line.size()), line.data(), Pane::maxLines,
                    static_cast<double>(after - before) / 1024,
                    static_cast<double>(after - before) * 1024 / Pane::maxLines);
    }
}

// The middle of three (or more) values.
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    // First, while the heap is fresh and nothing freed can be reused.
    if (total >= Pane::maxLines)
        memoryPerLine();
    std::printf("median of %d runs; \"vs plain\" is the last tenth against the plain pane's\n",
                runs);
    std::printf("%-15s %8s %13s %12s %6s %9s %8s %11s %10s\n", "case", "lines", "first 10% us",
                "last 10% us", "ratio", "vs plain", "total s", "lines held", "selection");
    double plainLastUs = 0;
    for (bool withSelection : {false, true}) {
        std::vector<double> first, last, totalS;
        Result r{};
        bool kept = true;
        for (int i = 0; i < runs; ++i) {
            r = run(total, withSelection);
            first.push_back(r.firstUs);
            last.push_back(r.lastUs);
            totalS.push_back(r.totalS);
            kept = kept && r.selectionKept;
        }
        const double firstUs = median(first), lastUs = median(last);
        if (!withSelection)
            plainLastUs = lastUs;
        std::printf("%-15s %8d %13.2f %12.2f %6.2f %9.2f %8.2f %11d %10s\n",
                    withSelection ? "with selection" : "plain", total, firstUs, lastUs,
                    lastUs / firstUs, lastUs / plainLastUs, median(totalS), r.linesHeld,
                    withSelection ? (kept ? "kept" : "LOST") : "-");
    }
    return 0;
}
