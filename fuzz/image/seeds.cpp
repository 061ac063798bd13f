// Writes the picture fuzzers' seeds (small pictures of each kind, some of
// them hostile) without their signatures, into DIR/png, DIR/jpeg and DIR/gif.
#include "kit/gfx/Image.h"
#include "tools/adnet/HostileMedia.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

void write(const std::string& folder, const std::string& name, const std::string& bytes, size_t signature)
{
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes.substr(signature);
}

std::string rgbaPng(int width, int height)
{
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 37);
    auto png = kit::Image::fromRGBA(width, height, std::move(pixels))->pngData();
    return std::string(png.begin(), png.end());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    write(dir + "/png", "rgba", rgbaPng(8, 8), 8);
    write(dir + "/png", "grey", adnet::zeroPng(16, 16), 8);
    write(dir + "/png", "huge", adnet::zeroPng(8192, 8192), 8);
    write(dir + "/png", "cut", adnet::cutShort(rgbaPng(16, 16), 0.7), 8);
    write(dir + "/jpeg", "baseline", adnet::flatJpeg(16, 16), 3);
    write(dir + "/jpeg", "progressive", adnet::flatJpeg(16, 16, -1), 3);
    write(dir + "/jpeg", "scans", adnet::flatJpeg(16, 8, 1), 3);
    write(dir + "/jpeg", "huge", adnet::withJpegSize(adnet::flatJpeg(16, 16), 8000, 8000), 3);
    write(dir + "/jpeg", "cut", adnet::cutShort(adnet::flatJpeg(32, 16), 0.6), 3);
    write(dir + "/gif", "small", adnet::constantGif(8, 8, { { 8, 8 } }), 6);
    write(dir + "/gif", "frames", adnet::constantGif(4, 4, { { 4, 4 }, { 2000, 2000 } }), 6);
    write(dir + "/gif", "beyond", adnet::constantGif(1, 1, { { 3000, 3000 } }), 6);
    write(dir + "/gif", "cut", adnet::cutShort(adnet::constantGif(64, 8, { { 64, 8 } }), 0.6), 6);
    return 0;
}
