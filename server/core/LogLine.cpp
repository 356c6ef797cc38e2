#include "LogLine.h"

namespace kesmar::logline {
namespace {

std::string compose(const char *label, std::int32_t tick)
{
    return label + std::to_string(tick) + "\r\n";
}

std::string compose(const char *label, std::int32_t value, std::int32_t tick)
{
    return label + std::to_string(value) + ' ' + std::to_string(tick) + "\r\n";
}

} // namespace

std::string accept(std::int32_t requestID, std::int32_t tick)
{
    return compose("Accept requestID = ", requestID, tick);
}

std::string receive(std::int32_t bytes, std::int32_t tick)
{
    return compose("Receive ", bytes, tick);
}

std::string close(std::int32_t tick)
{
    return compose("Close ", tick);
}

std::string send(std::int32_t bytesSent, std::int32_t tick)
{
    return compose("Send ", bytesSent, tick);
}

} // namespace kesmar::logline
