#include "png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

// libpng reports errors by longjmp; everything that needs undoing lives
// outside the function that may be jumped out of.
bool encode(png_structp png, png_infop info, std::FILE* file, const std::uint8_t* rgb, int width, int height)
{
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t stride = std::size_t(width) * 3;
    for (int row = height - 1; row >= 0; --row) png_write_row(png, rgb + std::size_t(row) * stride);
    png_write_end(png, info);
    return true;
}

}  // namespace

std::string write_png(const char* path, const std::uint8_t* rgb, int width, int height)
{
    if (width <= 0 || height <= 0)
        return "a " + std::to_string(width) + " x " + std::to_string(height) + " image has no pixels to store";
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return std::strerror(errno);

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool written = info && encode(png, info, file, rgb, width, height);
    png_destroy_write_struct(&png, &info);
    written = std::fflush(file) == 0 && written;
    const int write_errno = errno;
    written = std::fclose(file) == 0 && written;
    if (written) return {};
    std::remove(path);
    return write_errno ? std::strerror(write_errno) : "the PNG encoder failed";
}
