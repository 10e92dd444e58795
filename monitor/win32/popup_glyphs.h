// The popup's pictures, drawn with GDI so that they scale with the DPI:
// the button glyphs and the attachment symbol of the mail list.
#pragma once

#include <windows.h>

namespace tarvi::win32 {

enum class Glyph { Mailer1, Mailer2, Retrieve, Delete };

// A picture button: the push-button frame and its glyph, greyed when the
// button is disabled.
void drawPictureButton(const DRAWITEMSTRUCT& item, Glyph glyph);

// The attachment symbol (a paper clip), centred in the cell and clipped to it.
void drawAttachment(HDC dc, const RECT& cell);

}  // namespace tarvi::win32
