#pragma once

#include "Form.h"
#include "Handles.h"

namespace kesmar::win32 {

// One of the window's fonts as the window makes it at a DPI: the face and
// size of the table, in the Shift-JIS character set. The caption checks
// measure with the same.
UniqueFont makeFont(const form::Font &font, int dpi);

} // namespace kesmar::win32
