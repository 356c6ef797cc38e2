// The Win32 pane against a real RichEdit: the line bound, the user's
// selection and view kept while lines arrive, the end followed only from the
// end, and held text written later rather than lost.

#include "Pane.h"

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <richedit.h>
#include <windows.h>

using kesmar::win32::Pane;

namespace {

class PaneTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        const wchar_t *cls = Pane::windowClass();
        parent_ = CreateWindowExW(0, L"STATIC", L"pane test", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                  nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(parent_);
        edit_ = CreateWindowExW(0, cls, L"",
                                WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_NOHIDESEL |
                                    ES_AUTOVSCROLL | WS_VSCROLL,
                                0, 0, 233, 161, parent_, nullptr, nullptr, nullptr);
        ASSERT_TRUE(edit_);
        pane_.attach(edit_, font_);
    }
    void TearDown() override { DestroyWindow(parent_); }

    // Lets the pane's timer run until pred() holds; false after 5 s.
    template <typename Pred> bool pumpUntil(Pred pred)
    {
        const ULONGLONG end = GetTickCount64() + 5000;
        while (!pred()) {
            if (GetTickCount64() > end)
                return false;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            Sleep(5);
        }
        return true;
    }
    // Writes what is held, as after a block went out: waits out the
    // interval, then asks, and again for a successor's turn.
    void flush()
    {
        for (int turn = 0; turn < 2; ++turn) {
            Sleep(Pane::writeIntervalMs + 10);
            pane_.writeIfDue();
        }
    }

    // The pane's control: past the bound another takes its place.
    HWND edit() const { return pane_.hwnd(); }
    int lineCount() const { return static_cast<int>(SendMessageW(edit(), EM_GETLINECOUNT, 0, 0)); }
    std::wstring line(int i) const
    {
        std::vector<wchar_t> text(256);
        *reinterpret_cast<WORD *>(text.data()) = static_cast<WORD>(text.size());
        const auto n = SendMessageW(edit(), EM_GETLINE, static_cast<WPARAM>(i),
                                    reinterpret_cast<LPARAM>(text.data()));
        std::wstring s(text.data(), static_cast<std::size_t>(n));
        while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n'))
            s.pop_back();
        return s;
    }
    CHARRANGE selection() const
    {
        CHARRANGE r{};
        SendMessageW(edit(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&r));
        return r;
    }
    std::wstring selectedText() const
    {
        std::vector<wchar_t> text(1024);
        const auto n =
            SendMessageW(edit(), EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(text.data()));
        return std::wstring(text.data(), static_cast<std::size_t>(n));
    }
    LONG length() const
    {
        GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, 1200};
        return static_cast<LONG>(
            SendMessageW(edit(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0));
    }

    static std::string lines(int from, int count)
    {
        std::string text;
        for (int i = from; i < from + count; ++i)
            text += "line " + std::to_string(i) + "\r\n";
        return text;
    }

    HWND parent_ = nullptr;
    HWND edit_ = nullptr;
    HFONT font_ = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
    Pane pane_;
};

// The newest lines stay past the bound, at least the bound's worth, whether
// the excess comes in one write (more than the bound held at once) or in
// later ones, and however many times a successor takes over.
struct BoundCase
{
    const char *name;
    std::vector<int> batches; // lines per write
    int shown;                // lines the pane then shows, the newest
};

void PrintTo(const BoundCase &c, std::ostream *os)
{
    *os << c.name;
}

class PaneBound : public PaneTest, public testing::WithParamInterface<BoundCase>
{
};

TEST_P(PaneBound, KeepsTheNewestLines)
{
    int next = 0;
    for (int count : GetParam().batches) {
        pane_.appendText(lines(next, count));
        next += count;
        flush();
    }
    const int shown = GetParam().shown;
    // The lines and the empty one after the last line end.
    ASSERT_EQ(lineCount(), shown + 1);
    EXPECT_EQ(line(0), L"line " + std::to_wstring(next - shown));
    EXPECT_EQ(line(shown - 1), L"line " + std::to_wstring(next - 1));
    EXPECT_EQ(line(shown), L"");
}

constexpr int bound = Pane::maxLines;

INSTANTIATE_TEST_SUITE_P(
    Win32, PaneBound,
    testing::Values(BoundCase{"exactlyTheBound", {bound}, bound},
                    BoundCase{"overInOneWrite", {bound + 50}, bound},
                    BoundCase{"overInALaterWrite", {bound - 10, 60}, bound + 50},
                    BoundCase{"overManyTimes", {bound, 1, 1, 700}, bound + 702},
                    BoundCase{"successorTakesOver", {bound, bound}, bound},
                    BoundCase{"successorTakesOverPastTheBound", {bound, bound - 1, 5}, bound + 4},
                    BoundCase{
                        "successorAfterASuccessor", {bound, bound, 10, bound - 20}, 2 * bound - 10},
                    BoundCase{"overInOneWriteWithASuccessor", {bound, 10, bound + 3}, bound}),
    [](const testing::TestParamInfo<BoundCase> &info) { return info.param.name; });

TEST_F(PaneTest, SelectionAndViewStayWhileLinesArrive)
{
    pane_.appendText(lines(0, 200));
    flush();
    // "ne 5" in the line "line 5", with the view scrolled up to it.
    const auto start = static_cast<LONG>(SendMessageW(edit(), EM_LINEINDEX, 5, 0)) + 2;
    CHARRANGE chosen{start, start + 4};
    SendMessageW(edit(), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&chosen));
    SendMessageW(edit(), EM_SCROLLCARET, 0, 0);
    const auto firstVisible = SendMessageW(edit(), EM_GETFIRSTVISIBLELINE, 0, 0);

    pane_.appendText(lines(200, 50));
    flush();
    EXPECT_EQ(selection().cpMin, chosen.cpMin);
    EXPECT_EQ(selection().cpMax, chosen.cpMax);
    EXPECT_EQ(selectedText(), L"ne 5");
    EXPECT_EQ(SendMessageW(edit(), EM_GETFIRSTVISIBLELINE, 0, 0), firstVisible);
    EXPECT_EQ(line(249), L"line 249");
}

TEST_F(PaneTest, SelectionMovesWithTheTextWhenOldLinesGo)
{
    pane_.appendText(lines(0, bound));
    flush();
    pane_.appendText(lines(bound, bound / 2));
    flush();
    const auto start = static_cast<LONG>(SendMessageW(edit(), EM_LINEINDEX, bound + 1000, 0));
    CHARRANGE chosen{start, start + 10};
    SendMessageW(edit(), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&chosen));

    pane_.appendText(lines(bound + bound / 2, bound / 2));
    flush();
    EXPECT_EQ(line(0), L"line " + std::to_wstring(bound));
    EXPECT_EQ(selectedText(), L"line " + std::to_wstring(bound + 1000));
}

// The successor takes the old control's place: its ID, its place in the tab
// order, its font, the focus, and the word to the window.
TEST_F(PaneTest, SuccessorTakesThePanesPlace)
{
    ShowWindow(parent_, SW_SHOW);
    HWND after = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD, 0, 0, 1, 1, parent_, nullptr, nullptr,
                                 nullptr);
    SetWindowPos(after, edit_, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowLongPtrW(edit_, GWLP_ID, 7);
    SetFocus(edit_);
    ASSERT_EQ(GetFocus(), edit_);
    HWND told = nullptr;
    pane_.onReplaced([&](HWND old, HWND now) {
        EXPECT_EQ(old, edit_);
        told = now;
    });

    pane_.appendText(lines(0, bound));
    flush();
    pane_.appendText(lines(bound, bound));
    flush();
    ASSERT_NE(edit(), edit_);
    EXPECT_FALSE(IsWindow(edit_));
    EXPECT_EQ(told, edit());
    EXPECT_EQ(GetDlgItem(parent_, 7), edit());
    EXPECT_EQ(GetWindow(edit(), GW_HWNDNEXT), after);
    CHARFORMATW format{};
    format.cbSize = sizeof format;
    SendMessageW(edit(), EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    LOGFONTW face{};
    GetObjectW(font_, sizeof face, &face);
    EXPECT_STREQ(format.szFaceName, face.lfFaceName);
    EXPECT_EQ(GetFocus(), edit());
    EXPECT_TRUE(IsWindowVisible(edit()));
}

TEST_F(PaneTest, FollowsTheEndOnlyFromTheEnd)
{
    pane_.appendText(lines(0, 100));
    flush();
    EXPECT_EQ(selection().cpMin, length()); // the caret went to the end

    pane_.appendText(lines(100, 100));
    flush();
    EXPECT_EQ(selection().cpMin, length());
    EXPECT_EQ(selection().cpMax, length());
    const auto lastVisible = SendMessageW(edit(), EM_GETFIRSTVISIBLELINE, 0, 0);
    EXPECT_GT(lastVisible, 150); // the view came along
}

TEST_F(PaneTest, TextAppendedInsideTheIntervalIsWrittenLater)
{
    pane_.appendText(lines(0, 1));
    pane_.appendText(lines(1, 1));
    // The first append wrote; the second waits for the interval's timer.
    EXPECT_TRUE(pumpUntil([&] { return line(1) == L"line 1"; }));
}

TEST_F(PaneTest, HeldWhileBusyUntilAsked)
{
    bool busy = true;
    pane_.holdWritesWhile([&](Pane::Clock::duration) -> Pane::Clock::duration {
        return busy ? std::chrono::milliseconds(Pane::maxHoldMs) : Pane::Clock::duration{};
    });
    pane_.appendText(lines(0, 1));
    Sleep(Pane::writeIntervalMs + 10);
    pane_.appendText(lines(1, 1));
    busy = false;
    pane_.writeIfDue();
    EXPECT_EQ(line(1), L"line 1");
}

TEST_F(PaneTest, ClearEmptiesAtOnceHeldTextToo)
{
    pane_.appendText(lines(0, 10));
    pane_.appendText(lines(10, 10)); // held
    pane_.clearText();
    EXPECT_EQ(length(), 0);
    flush();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    EXPECT_EQ(length(), 0);
    pane_.appendText(lines(20, 1));
    EXPECT_TRUE(pumpUntil([&] { return line(0) == L"line 20"; }));
}

} // namespace
