#pragma once

#include <cstdint>
#include <string>

// Event log lines: label, [value and a blank], tick count, CR LF.
// Every number is a signed 32-bit decimal.
namespace kesmar::logline {

std::string accept(std::int32_t requestID, std::int32_t tick);
std::string receive(std::int32_t bytes, std::int32_t tick);
std::string close(std::int32_t tick);
std::string send(std::int32_t bytesSent, std::int32_t tick);

} // namespace kesmar::logline
