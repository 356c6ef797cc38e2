// Times readPattern over the first N records of a pattern file, for each N
// given. The file is read once; each size is parsed RUNS times from memory so
// that the disk is not what gets measured.
//   reader_bench FILE RUNS N...
// prints one line per N: records, bytes of text, bytes packed, best s, median s.
//   reader_bench --load FILE
// loads FILE as the program does and prints bytes of text, bytes packed,
// seconds, and the process's peak resident memory in MiB (Linux).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "PatternReader.h"

namespace {

// The text up to and including the N-th line end (all of it if shorter).
std::string_view firstRecords(std::string_view text, long records)
{
    std::size_t cut = 0;
    for (long i = 0; i < records; ++i) {
        cut = text.find('\n', cut);
        if (cut == std::string_view::npos)
            return text;
        ++cut;
    }
    return text.substr(0, cut);
}

// VmHWM from /proc/self/status, in MiB; -1 where there is none.
double peakMiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            double kib = 0;
            status >> kib;
            return kib / 1024;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--load") == 0) {
        const auto t0 = std::chrono::steady_clock::now();
        const std::size_t packed = kesmar::loadPatternFile(argv[2]).size();
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%ju %zu %.3f %.1f\n",
                    static_cast<std::uintmax_t>(std::filesystem::file_size(argv[2])), packed, secs,
                    peakMiB());
        return 0;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: reader_bench FILE RUNS RECORDS...\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "reader_bench: cannot open %s\n", argv[1]);
        return 1;
    }
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const int runs = std::max(1, std::stoi(argv[2]));

    for (int a = 3; a < argc; ++a) {
        const long records = std::stol(argv[a]);
        const std::string_view text = firstRecords(file, records);
        std::vector<double> secs;
        std::size_t packed = 0;
        for (int r = 0; r < runs; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            packed = kesmar::readPattern(text, "test.txt").size();
            const auto t1 = std::chrono::steady_clock::now();
            secs.push_back(std::chrono::duration<double>(t1 - t0).count());
        }
        std::sort(secs.begin(), secs.end());
        std::printf("%ld %zu %zu %.6f %.6f\n", records, text.size(), packed, secs.front(),
                    secs[secs.size() / 2]);
    }
    return 0;
}
