#include "HostileMedia.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <stdexcept>
#include <zlib.h>

namespace adnet {

namespace {

void putShort(std::string& out, int value)
{
    out += char(value & 0xFF);
    out += char((value >> 8) & 0xFF);
}

// LZW codes, least significant bit first, in data sub-blocks of up to 255
// bytes. The code width follows the decoder's own rule: after every code read
// (the clear code included) the next free code grows, and past the width's
// range the width grows, up to 12 bits.
class LzwWriter {
public:
    explicit LzwWriter(int minimumCodeSize)
        : m_minimum(minimumCodeSize)
        , m_clear(1 << minimumCodeSize)
    {
        reset();
    }

    int firstFree() const { return m_clear + 2; }
    void clear()
    {
        put(m_clear);
        reset();
    }
    void put(int code)
    {
        m_bits |= uint64_t(code) << m_bitCount;
        m_bitCount += m_width;
        while (m_bitCount >= 8) {
            m_bytes += char(m_bits & 0xFF);
            m_bits >>= 8;
            m_bitCount -= 8;
        }
        if (m_running < 4097 && ++m_running > m_limit && m_width < 12) {
            m_limit <<= 1;
            ++m_width;
        }
    }
    std::string finish()
    {
        put(m_clear + 1); // end of information
        if (m_bitCount > 0)
            m_bytes += char(m_bits & 0xFF);
        std::string out(1, char(m_minimum));
        for (size_t at = 0; at < m_bytes.size(); at += 255) {
            size_t n = std::min<size_t>(255, m_bytes.size() - at);
            out += char(n);
            out.append(m_bytes, at, n);
        }
        out += '\0';
        return out;
    }

private:
    void reset()
    {
        m_running = firstFree();
        m_width = m_minimum + 1;
        m_limit = 1 << m_width;
    }

    int m_minimum;
    int m_clear;
    int m_running { 0 };
    int m_width { 0 };
    int m_limit { 0 };
    uint64_t m_bits { 0 };
    int m_bitCount { 0 };
    std::string m_bytes;
};

// Pixels of one colour: after a clear, the codes stand for runs of length 1,
// 2, 3, ... (each one the entry that the decoder is about to make), so a
// table's worth of codes covers some eight million pixels.
std::string constantFrameData(uint64_t pixels, int colour)
{
    LzwWriter lzw(2);
    const int longest = 4000 - lzw.firstFree() + 2;
    uint64_t left = pixels;
    while (left > 0) {
        lzw.clear();
        lzw.put(colour);
        --left;
        for (int run = 2; run <= longest && left > 0; ++run) {
            if (uint64_t(run) > left) {
                // A shorter run is an older entry: the one for that length.
                lzw.put(left == 1 ? colour : lzw.firstFree() + int(left) - 2);
                left = 0;
                break;
            }
            lzw.put(lzw.firstFree() + run - 2);
            left -= uint64_t(run);
        }
    }
    return lzw.finish();
}

void appendChunk(std::string& png, const char* type, const std::string& data)
{
    uint32_t length = uint32_t(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        png += char((length >> shift) & 0xFF);
    std::string body = std::string(type, 4) + data;
    png += body;
    uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())));
    for (int shift = 24; shift >= 0; shift -= 8)
        png += char((crc >> shift) & 0xFF);
}

std::string bigEndian32(uint32_t value)
{
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((value >> shift) & 0xFF);
    return out;
}

} // namespace

std::string constantGif(int screenWidth, int screenHeight, const std::vector<std::pair<int, int>>& frames)
{
    std::string gif = "GIF89a";
    putShort(gif, screenWidth);
    putShort(gif, screenHeight);
    gif += char(0x91); // a global table of four colours
    gif += '\0';
    gif += '\0';
    const unsigned char table[] = { 0, 0, 0, 200, 40, 40, 40, 200, 40, 40, 40, 200 };
    gif.append(reinterpret_cast<const char*>(table), sizeof table);
    for (auto [width, height] : frames) {
        gif += ',';
        putShort(gif, 0);
        putShort(gif, 0);
        putShort(gif, width);
        putShort(gif, height);
        gif += '\0';
        gif += constantFrameData(uint64_t(width) * uint64_t(height), 1);
    }
    gif += ';';
    return gif;
}

std::string zeroPng(int width, int height)
{
    const size_t stride = (size_t(width) + 7) / 8 + 1; // a filter byte per row
    std::vector<Bytef> raw(stride * size_t(height), 0);
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, raw.data(), uLong(raw.size()), 9);
    packed.resize(size);

    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string header = bigEndian32(uint32_t(width)) + bigEndian32(uint32_t(height));
    header += char(1); // bit depth
    header += char(0); // grey
    header += std::string(3, '\0');
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", "");
    return png;
}

namespace {

// Encodes rows made by fill(row, y), three bytes a pixel.
template<typename Fill>
std::string encodeJpeg(int width, int height, int progressiveSteps, Fill fill)
{
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    std::vector<jpeg_scan_info> scans;
    if (progressiveSteps < 0)
        jpeg_simple_progression(&info);
    if (progressiveSteps > 0) {
        jpeg_scan_info dc {};
        dc.comps_in_scan = 3;
        for (int c = 0; c < 3; ++c)
            dc.component_index[c] = c;
        dc.Al = 1;
        scans.push_back(dc);
        dc.Ah = 1;
        dc.Al = 0;
        scans.push_back(dc);
        for (int c = 0; c < 3; ++c) {
            for (int k = 1; k < 64; ++k) {
                jpeg_scan_info ac {};
                ac.comps_in_scan = 1;
                ac.component_index[0] = c;
                ac.Ss = ac.Se = k;
                ac.Al = progressiveSteps;
                scans.push_back(ac);
                for (int step = progressiveSteps; step > 0; --step) {
                    ac.Ah = step;
                    ac.Al = step - 1;
                    scans.push_back(ac);
                }
            }
        }
        info.scan_info = scans.data();
        info.num_scans = int(scans.size());
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    while (info.next_scanline < info.image_height) {
        fill(row, int(info.next_scanline));
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&info, &p, 1);
    }
    jpeg_finish_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(out), size);
    jpeg_destroy_compress(&info);
    std::free(out);
    return bytes;
}

} // namespace

std::string flatJpeg(int width, int height, int progressiveSteps)
{
    return encodeJpeg(width, height, progressiveSteps, [](std::vector<uint8_t>& row, int y) {
        // A gentle pattern: flat pictures would leave the AC scans empty.
        for (size_t x = 0; x < row.size() / 3; ++x) {
            row[x * 3] = uint8_t((int(x) * 7 + y * 3) & 0xFF);
            row[x * 3 + 1] = uint8_t((int(x) ^ y) & 0xFF);
            row[x * 3 + 2] = 90;
        }
    });
}

std::string solidJpeg(int width, int height, uint8_t red, uint8_t green, uint8_t blue)
{
    return encodeJpeg(width, height, 0, [=](std::vector<uint8_t>& row, int) {
        for (size_t x = 0; x < row.size(); x += 3)
            row[x] = red, row[x + 1] = green, row[x + 2] = blue;
    });
}

std::string withJpegSize(std::string jpeg, int width, int height)
{
    for (size_t at = 2; at + 9 < jpeg.size(); ++at) {
        auto marker = uint8_t(jpeg[at + 1]);
        if (uint8_t(jpeg[at]) == 0xFF && (marker == 0xC0 || marker == 0xC2)) {
            jpeg[at + 5] = char(height >> 8);
            jpeg[at + 6] = char(height & 0xFF);
            jpeg[at + 7] = char(width >> 8);
            jpeg[at + 8] = char(width & 0xFF);
            return jpeg;
        }
    }
    throw std::runtime_error("no frame header");
}

std::string gzipOfZeros(int mebibytes)
{
    // Each sync flush ends byte-aligned and refers back only to zeros, so the
    // second block may be repeated as often as wanted.
    const std::vector<Bytef> zeros(1 << 20, 0);
    z_stream stream {};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::vector<Bytef> buffer(1 << 16);
    auto run = [&](int flush, bool withInput) {
        stream.next_in = const_cast<Bytef*>(zeros.data());
        stream.avail_in = withInput ? uInt(zeros.size()) : 0;
        std::string out;
        do {
            stream.next_out = buffer.data();
            stream.avail_out = uInt(buffer.size());
            deflate(&stream, flush);
            out.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - stream.avail_out);
        } while (stream.avail_out == 0);
        return out;
    };
    std::string first = run(Z_SYNC_FLUSH, true);
    std::string block = run(Z_SYNC_FLUSH, true);
    std::string end = run(Z_FINISH, false);
    deflateEnd(&stream);
    // The trailer that zlib wrote counts two mebibytes: replace it.
    end.resize(end.size() - 8);
    uLong crc = crc32(0, zeros.data(), uInt(zeros.size()));
    uLong total = crc;
    for (int i = 1; i < mebibytes; ++i)
        total = crc32_combine(total, crc, z_off_t(zeros.size()));
    std::string body = first;
    body.reserve(first.size() + block.size() * size_t(mebibytes) + end.size() + 8);
    for (int i = 1; i < mebibytes; ++i)
        body += block;
    body += end;
    const uint32_t length = uint32_t(uint64_t(mebibytes) << 20);
    for (uint32_t value : { uint32_t(total), length })
        for (int shift = 0; shift < 32; shift += 8)
            body += char((value >> shift) & 0xFF);
    return body;
}

std::string cutShort(const std::string& bytes, double fraction)
{
    return bytes.substr(0, size_t(double(bytes.size()) * fraction));
}

const HostileMedia& HostileMedia::shared()
{
    static const HostileMedia media;
    return media;
}

HostileMedia::HostileMedia()
{
    // Frames far beyond a one-pixel screen.
    pictures["gif-frames"] = constantGif(1, 1, { { 20000, 20000 }, { 20000, 20000 }, { 20000, 20000 } });
    // Inside the size limit, with scans well beyond their limit.
    pictures["jpeg-scans"] = flatJpeg(320, 48, 5);
    // A header that claims 8000 x 8000 over a small body.
    pictures["jpeg-huge"] = withJpegSize(flatJpeg(64, 64), 8000, 8000);
    pictures["png-huge"] = zeroPng(8192, 8192);
    pictures["png-truncated"] = cutShort(zeroPng(320, 48), 0.6);
    pictures["jpeg-truncated"] = cutShort(flatJpeg(320, 48), 0.6);
    pictures["gif-truncated"] = cutShort(constantGif(320, 48, { { 320, 48 } }), 0.6);
    gzipBomb = gzipOfZeros(1024);
}

} // namespace adnet
