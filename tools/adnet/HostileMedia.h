#pragma once
// Answers of a hostile server, made when adnet starts (nothing of it is kept
// in the source tree): a compressed body that inflates far beyond any cap,
// pictures that claim more than they are, and pictures cut short.
//
// The generators are small and exact so that tests can build their own
// variants: a GIF of one colour writes its LZW codes directly (a 20,000 x
// 20,000 frame takes a few hundred kilobytes and no time), the PNG of zeros is
// one bit deep, and the gzip body repeats one deflate block of zeros.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace adnet {

// A GIF89a with a logical screen of that size and one frame per entry, each
// placed at the origin and filled with colour 1 of a four-colour table.
std::string constantGif(int screenWidth, int screenHeight, const std::vector<std::pair<int, int>>& frames);

// A PNG (grey, one bit deep) of zeros.
std::string zeroPng(int width, int height);

// A JPEG of a gentle pattern. progressiveSteps 0: baseline; negative: the
// library's usual progression (ten scans). Otherwise progressive, with every
// coefficient in a scan of its own and that many successive approximation
// steps (3 x 63 x (steps + 1) + 2 scans).
std::string flatJpeg(int width, int height, int progressiveSteps = 0);

// A baseline JPEG of one colour.
std::string solidJpeg(int width, int height, uint8_t red, uint8_t green, uint8_t blue);

// The same JPEG with the frame header's size replaced.
std::string withJpegSize(std::string jpeg, int width, int height);

// A gzip member that inflates to that many MiB of zeros (about 1 KB per MiB).
std::string gzipOfZeros(int mebibytes);

// The first part of the bytes.
std::string cutShort(const std::string& bytes, double fraction);

class HostileMedia {
public:
    // Made on first use (adnet asks for it at start, off its serving threads).
    static const HostileMedia& shared();

    // By name, served as /static/iphone/img/NAME.png whatever their kind.
    std::map<std::string, std::string> pictures;
    // An ad answer body, sent with "Content-Encoding: gzip".
    std::string gzipBomb;

private:
    HostileMedia();
};

} // namespace adnet
