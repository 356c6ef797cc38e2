#include "Fatal.h"

#include <cstdio>
#include <cstdlib>

namespace {

FatalReport frontEndReport = nullptr;

} // namespace

void setFatalReport(FatalReport report)
{
    frontEndReport = report;
}

void fatalError(const std::string &message)
{
    std::fprintf(stderr, "kesmar: %s\n", message.c_str());
    std::fflush(stderr);
    if (frontEndReport)
        frontEndReport(message);
    std::exit(1);
}
