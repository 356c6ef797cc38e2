// Times readPattern over the first N records of a file: best and median of
// several runs, as MB/s and records/s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PatternReader.h"

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: reader_bench FILE RECORDS [RUNS]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    const long records = std::stol(argv[2]);
    const int runs = argc > 3 ? std::stoi(argv[3]) : 7;
    // Cut after the N-th line end.
    std::size_t cut = 0;
    for (long i = 0; i < records && cut != std::string::npos; ++i) {
        cut = text.find('\n', cut);
        if (cut != std::string::npos)
            ++cut;
    }
    if (cut != std::string::npos)
        text.resize(cut);

    std::vector<double> secs;
    std::size_t bytes = 0;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        bytes = kesmar::readPattern(text, "test.txt").size();
        secs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(secs.begin(), secs.end());
    const double best = secs.front(), median = secs[secs.size() / 2];
    std::printf("%ld %zu %zu %.6f %.6f\n", records, text.size(), bytes, best, median);
    return 0;
}
