#include "Fonts.h"

#include <string>

#include "Text.h"

namespace kesmar::win32 {

UniqueFont makeFont(const form::Font &font, int dpi)
{
    const std::wstring face = widen(font.face);
    const DWORD pitch = font.fixedPitch ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS;
    return UniqueFont(CreateFontW(-MulDiv(font.points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                  FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                  DEFAULT_QUALITY, pitch, face.c_str()));
}

} // namespace kesmar::win32
