// libpng's C interface reports errors by longjmp back to the setjmp in
// WriteRows; only plain values live in that frame, so nothing that needs a
// destructor is skipped. The guards below release what libpng allocated.
#include "render.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace view {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

class PngWriteGuard {
public:
    PngWriteGuard() : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr))
    {
        if (png_) info_ = png_create_info_struct(png_);
    }
    ~PngWriteGuard() { png_destroy_write_struct(png_ ? &png_ : nullptr, info_ ? &info_ : nullptr); }
    PngWriteGuard(const PngWriteGuard&) = delete;
    PngWriteGuard& operator=(const PngWriteGuard&) = delete;

    bool Ok() const { return png_ && info_; }
    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

bool WriteRows(png_structp png, png_infop info, std::FILE* file, int width, int height, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    // Flat colour areas compress well even at the fastest level.
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

void WritePng(const std::string& path, int width, int height, const std::uint8_t* rgb)
{
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw InputError("cannot write " + path + ": " + std::strerror(errno));
    PngWriteGuard guard;
    if (!guard.Ok()) throw InputError("cannot write " + path + ": libpng could not start");
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
    for (int j = 0; j < height; ++j)
        rows[static_cast<std::size_t>(j)] = const_cast<png_bytep>(rgb + static_cast<std::size_t>(j) * width * 3);
    if (!WriteRows(guard.Png(), guard.Info(), file.get(), width, height, rows.data()) || std::fflush(file.get()) != 0)
        throw InputError("cannot write " + path);
}

}  // namespace view
