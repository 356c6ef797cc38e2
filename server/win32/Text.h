#pragma once

#include <string>
#include <string_view>

// The handlers speak UTF-8; Windows speaks UTF-16.
namespace kesmar::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The system's words for an error code of GetLastError or WSAGetLastError.
std::string systemMessage(unsigned long code);

// Ends the program through fatalError: what failed, then why, in the
// system's words for GetLastError().
[[noreturn]] void failedLastError(const std::string &what);

} // namespace kesmar::win32
