#include "kit/gfx/Image.h"

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

bool sizeAcceptable(uint64_t width, uint64_t height)
{
    return Image::sizeAllowed(width, height);
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
    // A read that ends early (cut short, bad checksum, missing data) fails
    // here as a whole; libpng's warnings (colour profile remarks) do not.
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

[[noreturn]] void jpegFail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Level -1 is a warning: data that is corrupt or cut short, which the decoder
// would otherwise paper over with grey. Such a picture is no picture. Higher
// levels are trace messages.
void jpegMessage(j_common_ptr info, int level)
{
    if (level < 0)
        jpegFail(info);
}

// Called between reads of the input; each scan of a progressive picture costs
// a pass over every coefficient, so their number is bounded.
void jpegProgress(j_common_ptr info)
{
    if (!info->is_decompressor)
        return;
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > Image::maximumJPEGScans)
        jpegFail(info);
}

// Kept apart from the vector it fills: locals of the frame that calls setjmp
// are not trustworthy after a jump.
bool readJPEG(const uint8_t* bytes, size_t length, std::vector<uint8_t>& pixels, int& width, int& height)
{
    jpeg_decompress_struct info;
    JpegError error;
    jpeg_progress_mgr progress {};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFail;
    error.manager.emit_message = jpegMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    progress.progress_monitor = jpegProgress;
    info.progress = &progress;
    // Well above what an allowed picture needs, even progressive.
    info.mem->max_memory_to_use = 32L * 1024 * 1024;
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
    // Reads on to the end marker: a file cut short warns here.
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

struct GifCloser {
    void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};

// Reads records up to the first frame, which is decoded row by row; later
// frames are never read.
std::shared_ptr<const Image> decodeGIF(const uint8_t* bytes, size_t length)
{
    GifSource source { bytes, length, 0 };
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, gifRead, &error));
    if (!gif || !sizeAcceptable(gif->SWidth, gif->SHeight))
        return nullptr;
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
            return nullptr;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
                return nullptr;
            GraphicsControlBlock control;
            if (code == GRAPHICS_EXT_FUNC_CODE && block && DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                transparent = control.TransparentColor;
            while (block)
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                    return nullptr;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            return nullptr; // the end, or something unknown, before any frame
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
            return nullptr;
        const GifImageDesc frame = gif->Image;
        if (!sizeAcceptable(frame.Width, frame.Height))
            return nullptr;
        const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
        if (!map)
            return nullptr;
        std::vector<GifPixelType> raster(size_t(frame.Width) * frame.Height);
        auto readRow = [&](int y) { return DGifGetLine(gif.get(), &raster[size_t(y) * frame.Width], frame.Width) == GIF_OK; };
        if (frame.Interlace) {
            static constexpr int start[] = { 0, 4, 2, 1 }, step[] = { 8, 8, 4, 2 };
            for (int pass = 0; pass < 4; ++pass)
                for (int y = start[pass]; y < frame.Height; y += step[pass])
                    if (!readRow(y))
                        return nullptr;
        } else {
            for (int y = 0; y < frame.Height; ++y)
                if (!readRow(y))
                    return nullptr;
        }
        // The frame on the logical screen; what lies outside it is dropped.
        const int width = gif->SWidth, height = gif->SHeight;
        std::vector<uint8_t> pixels(size_t(width) * height * 4, 0);
        for (int y = 0; y < frame.Height; ++y) {
            for (int x = 0; x < frame.Width; ++x) {
                int px = frame.Left + x, py = frame.Top + y;
                if (px < 0 || py < 0 || px >= width || py >= height)
                    continue;
                int index = raster[size_t(y) * frame.Width + x];
                if (index == transparent || index >= map->ColorCount)
                    continue;
                uint8_t* p = &pixels[(size_t(py) * width + px) * 4];
                p[0] = map->Colors[index].Red;
                p[1] = map->Colors[index].Green;
                p[2] = map->Colors[index].Blue;
                p[3] = 255;
            }
        }
        return Image::fromRGBA(width, height, std::move(pixels));
    }
}

} // namespace

bool Image::sizeAllowed(uint64_t width, uint64_t height)
{
    return width > 0 && height > 0 && width <= uint64_t(maximumSide) && height <= uint64_t(maximumSide)
        && width * height <= maximumPixels;
}

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
