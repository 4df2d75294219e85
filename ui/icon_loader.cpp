#include "icon_loader.hpp"

#include <QPixmap>
#include <cstring>
#include <fstream>
#include <iterator>
#include <png.h>
#include <system_error>
#include <vector>

namespace quendelin::IconLoader {

namespace {

// Far above any icon or logo, far below what could exhaust memory: a damaged header that
// claims a giant picture is refused before anything is allocated.
constexpr png_uint_32 maxSide = 4096;
constexpr std::uintmax_t maxFileBytes = 16u * 1024u * 1024u;

std::vector<unsigned char> readFile(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return {};
    const auto size = std::filesystem::file_size(file, error);
    if (error || size == 0 || size > maxFileBytes)
        return {};
    std::ifstream in(file, std::ios::binary);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in || in.gcount() != static_cast<std::streamsize>(bytes.size()))
        return {};
    return bytes;
}

// libpng reports errors by longjmp. Its simplified interface catches that jump inside
// libpng itself and hands back a plain failure, so no jump ever crosses a C++ frame of ours
// (which would skip destructors); png_image_free then releases whatever libpng still holds.
class PngImage {
public:
    PngImage() {
        std::memset(&image_, 0, sizeof image_);
        image_.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&image_); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;

    png_image* get() { return &image_; }

private:
    png_image image_;
};

} // namespace

QImage load(const std::filesystem::path& file) {
    const std::vector<unsigned char> bytes = readFile(file);
    if (bytes.empty())
        return {};

    PngImage png;
    if (png_image_begin_read_from_memory(png.get(), bytes.data(), bytes.size()) == 0)
        return {};
    const png_uint_32 width = png.get()->width;
    const png_uint_32 height = png.get()->height;
    if (width == 0 || height == 0 || width > maxSide || height > maxSide)
        return {};

    // Straight (not premultiplied) RGBA bytes in this order on every platform; whatever the
    // file holds (palette, grey, 16 bits, no alpha) is expanded to it.
    png.get()->format = PNG_FORMAT_RGBA;
    // Without this, 16-bit files lacking gamma information are taken as linear light and come
    // out much too bright; artwork is drawn in sRGB like 8-bit files. (Set only now: starting
    // the read clears the flags.)
    png.get()->flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888);
    if (image.isNull())
        return {};
    const auto rowStride = static_cast<png_int_32>(image.bytesPerLine());
    if (png_image_finish_read(png.get(), nullptr, image.bits(), rowStride, nullptr) == 0)
        return {};
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage scaled(const QImage& image, int width, int height) {
    if (image.isNull())
        return {};
    // Qt's smooth scaling interpolates between source pixels (bilinear when enlarging,
    // area averaging when shrinking) and works on premultiplied pixels, so edges do not
    // darken where the picture fades out.
    return image.convertToFormat(QImage::Format_ARGB32)
        .scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

QImage loadScaled(const std::filesystem::path& file, int width, int height) {
    return scaled(load(file), width, height);
}

QIcon toIcon(const QImage& image) {
    if (image.isNull())
        return {};
    return QIcon(QPixmap::fromImage(image));
}

QIcon applicationIcon() {
    return QIcon(QStringLiteral(":/quendelin/quendelin.png"));
}

} // namespace quendelin::IconLoader
