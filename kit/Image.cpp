#include "kit/Image.h"

#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

namespace kit {

namespace {

// Pictures larger than this are refused rather than allocated.
constexpr uint64_t maximumPixels = 64ull * 1024 * 1024;

bool sizeAcceptable(uint64_t width, uint64_t height)
{
    return width > 0 && height > 0 && width * height <= maximumPixels;
}

std::shared_ptr<const Image> decodePNG(const uint8_t* bytes, size_t length)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes, length))
        return nullptr;
    image.format = PNG_FORMAT_RGBA;
    if (!sizeAcceptable(image.width, image.height)) {
        png_image_free(&image);
        return nullptr;
    }
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return nullptr;
    }
    return Image::fromRGBA(int(image.width), int(image.height), std::move(pixels));
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void jpegFail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

void jpegQuiet(j_common_ptr, int) { }

// Kept apart from the vector it fills: locals of the frame that calls setjmp
// are not trustworthy after a jump.
bool readJPEG(const uint8_t* bytes, size_t length, std::vector<uint8_t>& pixels, int& width, int& height)
{
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFail;
    error.manager.emit_message = jpegQuiet;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes, static_cast<unsigned long>(length));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || !sizeAcceptable(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * 4;
    pixels.resize(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    width = int(info.output_width);
    height = int(info.output_height);
    jpeg_destroy_decompress(&info);
    return true;
}

std::shared_ptr<const Image> decodeJPEG(const uint8_t* bytes, size_t length)
{
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    if (!readJPEG(bytes, length, pixels, width, height))
        return nullptr;
    return Image::fromRGBA(width, height, std::move(pixels));
}

struct GifSource {
    const uint8_t* bytes;
    size_t length;
    size_t offset;
};

int gifRead(GifFileType* gif, GifByteType* out, int wanted)
{
    auto* src = static_cast<GifSource*>(gif->UserData);
    size_t n = std::min<size_t>(size_t(wanted), src->length - src->offset);
    std::memcpy(out, src->bytes + src->offset, n);
    src->offset += n;
    return int(n);
}

std::shared_ptr<const Image> decodeGIF(const uint8_t* bytes, size_t length)
{
    GifSource source { bytes, length, 0 };
    int error = 0;
    GifFileType* gif = DGifOpen(&source, gifRead, &error);
    if (!gif)
        return nullptr;
    std::shared_ptr<const Image> result;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0 && sizeAcceptable(gif->SWidth, gif->SHeight)) {
        const SavedImage& frame = gif->SavedImages[0];
        const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
        GraphicsControlBlock gcb { 0, false, 0, NO_TRANSPARENT_COLOR };
        DGifSavedExtensionToGCB(gif, 0, &gcb);
        if (map) {
            const int width = gif->SWidth, height = gif->SHeight;
            std::vector<uint8_t> pixels(size_t(width) * height * 4, 0);
            const auto& d = frame.ImageDesc;
            for (int y = 0; y < d.Height; ++y) {
                for (int x = 0; x < d.Width; ++x) {
                    int px = d.Left + x, py = d.Top + y;
                    if (px < 0 || py < 0 || px >= width || py >= height)
                        continue;
                    int index = frame.RasterBits[size_t(y) * d.Width + x];
                    if (index == gcb.TransparentColor || index >= map->ColorCount)
                        continue;
                    uint8_t* p = &pixels[(size_t(py) * width + px) * 4];
                    p[0] = map->Colors[index].Red;
                    p[1] = map->Colors[index].Green;
                    p[2] = map->Colors[index].Blue;
                    p[3] = 255;
                }
            }
            result = Image::fromRGBA(width, height, std::move(pixels));
        }
    }
    DGifCloseFile(gif, &error);
    return result;
}

} // namespace

std::shared_ptr<const Image> Image::fromRGBA(int width, int height, std::vector<uint8_t> pixels)
{
    if (width <= 0 || height <= 0 || pixels.size() != size_t(width) * height * 4)
        return nullptr;
    return std::make_shared<const Image>(Private {}, width, height, std::move(pixels));
}

std::shared_ptr<const Image> Image::fromData(const uint8_t* bytes, size_t length)
{
    if (!bytes || length < 4)
        return nullptr;
    if (length >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0)
        return decodePNG(bytes, length);
    if (bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return decodeJPEG(bytes, length);
    if (length >= 6 && (std::memcmp(bytes, "GIF87a", 6) == 0 || std::memcmp(bytes, "GIF89a", 6) == 0))
        return decodeGIF(bytes, length);
    return nullptr;
}

std::shared_ptr<const Image> Image::fromFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return nullptr;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return fromData(bytes);
}

std::vector<uint8_t> Image::pngData() const
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(m_width);
    image.height = png_uint_32(m_height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, m_pixels.data(), 0, nullptr))
        return {};
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, m_pixels.data(), 0, nullptr))
        return {};
    out.resize(size);
    return out;
}

} // namespace kit
