#pragma once

// The class of kesmar's main window: kesmarctl, in another process, finds
// the window by it, so both take it from here.
namespace kesmar::win32 {

inline constexpr const wchar_t *mainWindowClass = L"kesmar.frmMain";

} // namespace kesmar::win32
