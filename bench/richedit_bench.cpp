// What the Win32 panes' RichEdit costs, operation by operation, on panes of
// a few sizes: the figures behind Pane.cpp's choices. Built with MinGW and
// run under Wine by richedit.sh; on Windows it would measure Windows' own.

#include <windows.h>

#include <richedit.h>

#include <cstdio>
#include <functional>
#include <string>

namespace {

HWND parent;
HWND edit;

double nowMs()
{
    LARGE_INTEGER count{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

LRESULT send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return SendMessageW(edit, msg, wParam, lParam);
}

std::wstring lines(int from, int count)
{
    std::wstring text;
    for (int i = from; i < from + count; ++i)
        text += L"Receive 32768 " + std::to_wstring(5012400 + i) + L"\r\n";
    return text;
}

void select(LONG start, LONG end)
{
    CHARRANGE range{start, end};
    send(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

LONG length()
{
    GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, 1200};
    return static_cast<LONG>(send(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how)));
}

void replace(LONG start, LONG end, const std::wstring &text)
{
    select(start, end);
    send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

// A pane as the window makes it, holding count lines.
void makePane(int count)
{
    edit = CreateWindowExW(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
                           WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_NOHIDESEL |
                               ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL,
                           0, 0, 233, 161, parent, nullptr, nullptr, nullptr);
    send(EM_SETTEXTMODE, TM_PLAINTEXT);
    send(EM_SETUNDOLIMIT, 0);
    send(EM_EXLIMITTEXT, 0, 0x7FFFFFFF);
    send(EM_SETTARGETDEVICE, 0, 1);
    SetWindowTextW(edit, lines(0, count).c_str());
    UpdateWindow(edit);
}

void row(int count, const char *what, const std::function<void()> &step)
{
    const double started = nowMs();
    step();
    std::printf("%8d  %-44s %10.2f\n", count, what, nowMs() - started);
    std::fflush(stdout);
}

} // namespace

int wmain()
{
    LoadLibraryW(L"msftedit.dll");
    parent = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                             300, nullptr, nullptr, nullptr, nullptr);
    std::printf("%8s  %-44s %10s\n", "lines", "operation", "ms");
    for (const int count : {3000, 10000, 30000}) {
        makePane(count);
        const std::wstring hundred = lines(count, 100);
        row(count, "append 100 lines at the end, redraw off", [&] {
            send(WM_SETREDRAW, FALSE);
            const LONG end = length();
            replace(end, end, hundred);
            send(WM_SETREDRAW, TRUE);
        });
        row(count, "paint",
            [] { RedrawWindow(edit, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); });
        row(count, "EM_LINEINDEX of the last line",
            [] { send(EM_LINEINDEX, send(EM_GETLINECOUNT) - 1); });
        row(count, "drop 10 lines from the top",
            [] { replace(0, static_cast<LONG>(send(EM_LINEINDEX, 10)), L""); });
        row(count, "drop 10 lines at the end", [] {
            const auto last = send(EM_GETLINECOUNT) - 1;
            replace(static_cast<LONG>(send(EM_LINEINDEX, last - 10)), length(), L"");
        });
        if (count <= 10000)
            row(count, "empty it (SetWindowText \"\")", [] { SetWindowTextW(edit, L""); });
        row(count, "DestroyWindow", [] { DestroyWindow(edit); });
        row(count, "a new one, filled (SetWindowText)", [count] { makePane(count); });
        DestroyWindow(edit);
    }
    DestroyWindow(parent);
    return 0;
}
