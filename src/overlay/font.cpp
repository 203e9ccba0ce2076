// freeglut's Helvetica 12 table.
#include "overlay/font.h"

// The layout of freeglut's SFG_Font (fg_internal.h, freeglut 3), whose
// instances the library exports under these names.
extern "C" {
struct freeglut_font {
    const char* name;
    int quantity;  // characters in the table
    int height;    // rows of every bitmap
    const unsigned char** characters;
    float xorig, yorig;
};
extern freeglut_font fgFontHelvetica12;
}

glyph font_glyph(unsigned char c)
{
    const freeglut_font& font = fgFontHelvetica12;
    if (c == 0 || c >= font.quantity || !font.characters[c]) return {0, nullptr};
    const unsigned char* face = font.characters[c];
    return {face[0], face + 1};
}

std::string font_mismatch()
{
    const freeglut_font& font = fgFontHelvetica12;
    if (font.quantity != 256 || font.height != font_height || font.xorig != 0.0f || font.yorig != float(font_descent))
        return "freeglut's Helvetica 12 is not the 256-character, 16-row font this build expects";
    return {};
}

int text_width(const std::string& text)
{
    int width = 0;
    for (const char c : text) width += font_glyph(static_cast<unsigned char>(c)).width;
    return width;
}
