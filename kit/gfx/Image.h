#pragma once
// A decoded picture: width, height and straight (not premultiplied) RGBA
// pixels, 8 bits per channel, rows top to bottom. Images are immutable and
// shared. Decoding accepts PNG, JPEG and GIF (first frame); bytes that are no
// image yield nothing, like the handheld's imageWithData:.
//
// Decoding is bounded, because the bytes come from any server an ad names and
// the decode runs on the main thread. Pictures are ad pictures and icons (a
// banner is 320 x 48, an icon 16 x 16), so anything wider or taller than
// maximumSide, or holding more than maximumPixels (1 MiB of RGBA), is refused
// from its header, before a pixel is allocated. A GIF yields its first frame
// only, and that frame obeys the same limit; a progressive JPEG may have at
// most maximumJPEGScans scans. Truncated or corrupt data (also what the JPEG
// decoder only warns about) is no picture, not a picture with filler.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kit {

class Image {
public:
    static constexpr int maximumSide = 1024;
    static constexpr uint64_t maximumPixels = 512 * 512;
    static constexpr int maximumJPEGScans = 64;

    // Whether a picture of that size may be decoded.
    static bool sizeAllowed(uint64_t width, uint64_t height);

    static std::shared_ptr<const Image> fromData(const uint8_t* bytes, size_t length);
    static std::shared_ptr<const Image> fromData(const std::vector<uint8_t>& bytes) { return fromData(bytes.data(), bytes.size()); }
    static std::shared_ptr<const Image> fromFile(const std::string& path);
    // A picture made in memory (tests, generated icons). Pixels must hold
    // width * height * 4 bytes; otherwise nothing.
    static std::shared_ptr<const Image> fromRGBA(int width, int height, std::vector<uint8_t> pixels);

    int width() const { return m_width; }
    int height() const { return m_height; }
    const std::vector<uint8_t>& pixels() const { return m_pixels; }

    // The PNG encoding; empty if it cannot be made.
    std::vector<uint8_t> pngData() const;

    bool samePixels(const Image& other) const
    {
        return m_width == other.m_width && m_height == other.m_height && m_pixels == other.m_pixels;
    }

private:
    struct Private { explicit Private() = default; }; // only the factory names it

public:
    Image(Private, int width, int height, std::vector<uint8_t> pixels)
        : m_width(width), m_height(height), m_pixels(std::move(pixels)) { }

private:
    int m_width;
    int m_height;
    std::vector<uint8_t> m_pixels;
};

} // namespace kit
