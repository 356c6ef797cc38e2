#include "Fatal.h"

#include <cstdio>
#include <cstdlib>

namespace {

FatalReport frontEndReport = nullptr;
bool underWay = false;

} // namespace

bool fatalErrorUnderWay()
{
    return underWay;
}

void setFatalReport(FatalReport report)
{
    frontEndReport = report;
}

void fatalError(const std::string &message)
{
    std::fprintf(stderr, "kesmar: %s\n", message.c_str());
    std::fflush(stderr);
    // A failure while the first one is being reported ends the program at once.
    const bool first = !underWay;
    underWay = true;
    if (frontEndReport && first)
        frontEndReport(message);
    std::exit(1);
}
