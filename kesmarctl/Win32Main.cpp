// Windows: the arguments arrive as UTF-16 and reach the commands as UTF-8.
// What the commands print leaves as the platform reads it: in a console as
// characters (WriteConsoleW, whatever its code page), redirected to a file or
// a pipe as UTF-8 bytes. Lines end in LF alone, as git's do on Windows, so
// that a script under bash reads them as a script in PowerShell or Python
// does.

#include <algorithm>
#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "Text.h"
#include "Verbs.h"

namespace {

// Gathers what is written and hands it on at each flush, whole characters
// only: a console shown half a UTF-8 sequence would show it as junk.
class StdHandleBuf final : public std::streambuf
{
  public:
    explicit StdHandleBuf(DWORD which) : handle_(GetStdHandle(which))
    {
        DWORD mode = 0;
        console_ = handle_ && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
    }
    ~StdHandleBuf() override { sync(); }

  protected:
    int overflow(int c) override
    {
        if (c != traits_type::eof())
            pending_ += static_cast<char>(c);
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char *s, std::streamsize n) override
    {
        pending_.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int sync() override
    {
        const std::size_t whole = wholeCharacters();
        const std::string text = pending_.substr(0, whole);
        pending_.erase(0, whole);
        return (console_ ? toConsole(text) : toFile(text)) ? 0 : -1;
    }

  private:
    // The length of pending_ without an unfinished sequence at its end.
    std::size_t wholeCharacters() const
    {
        const std::size_t n = pending_.size();
        for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
            const auto byte = static_cast<unsigned char>(pending_[n - back]);
            if ((byte & 0xC0) == 0x80)
                continue; // a continuation byte: look further back
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            return length > back ? n - back : n;
        }
        return n;
    }

    bool toFile(const std::string &text) const
    {
        for (std::size_t at = 0; at < text.size();) {
            DWORD wrote = 0;
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - at, 1 << 20));
            if (!WriteFile(handle_, text.data() + at, chunk, &wrote, nullptr) || wrote == 0)
                return false;
            at += wrote;
        }
        return true;
    }

    // In pieces: older consoles refuse one large write (the buffer behind it
    // is 64 KiB), and a piece never ends between the halves of a pair.
    bool toConsole(const std::string &text) const
    {
        const std::wstring wide = kesmar::win32::widen(text);
        for (std::size_t at = 0; at < wide.size();) {
            std::size_t chunk = std::min<std::size_t>(wide.size() - at, 8192);
            if (at + chunk < wide.size() && IS_HIGH_SURROGATE(wide[at + chunk - 1]))
                --chunk;
            DWORD wrote = 0;
            if (!WriteConsoleW(handle_, wide.data() + at, static_cast<DWORD>(chunk), &wrote,
                               nullptr) ||
                wrote == 0)
                return false;
            at += wrote;
        }
        return true;
    }

    HANDLE handle_;
    bool console_ = false;
    std::string pending_;
};

} // namespace

int wmain(int argc, wchar_t **argv)
{
    std::vector<std::string> utf8;
    for (int i = 1; i < argc; ++i)
        utf8.push_back(kesmar::win32::narrow(argv[i]));
    const std::vector<std::string_view> args(utf8.begin(), utf8.end());

    StdHandleBuf outBuf(STD_OUTPUT_HANDLE);
    StdHandleBuf errBuf(STD_ERROR_HANDLE);
    std::ostream out(&outBuf);
    std::ostream err(&errBuf);
    const int status = kesmarctl::run(args, &kesmarctl::openDesktop, out, err);
    err.flush();
    out.flush();
    return status;
}
