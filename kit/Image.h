#pragma once
// A decoded picture: width, height and straight (not premultiplied) RGBA
// pixels, 8 bits per channel, rows top to bottom. Images are immutable and
// shared. Decoding accepts PNG, JPEG and GIF (first frame); bytes that are no
// image yield nothing, like the handheld's imageWithData:.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kit {

class Image {
public:
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

    struct Private { };
    Image(Private, int width, int height, std::vector<uint8_t> pixels)
        : m_width(width), m_height(height), m_pixels(std::move(pixels)) { }

private:
    int m_width;
    int m_height;
    std::vector<uint8_t> m_pixels;
};

} // namespace kit
