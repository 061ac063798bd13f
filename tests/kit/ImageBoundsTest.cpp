// Pictures from a hostile server: sizes read from the header, a GIF's first
// frame only, progressive scans bounded, nothing cut short or corrupt taken.
// The pictures come from the ad network's own generators.
#include "kit/gfx/Image.h"
#include "tools/adnet/HostileMedia.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::shared_ptr<const kit::Image> decode(const std::string& bytes)
{
    return kit::Image::fromData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string pngOf(int width, int height)
{
    auto image = kit::Image::fromRGBA(width, height, std::vector<uint8_t>(size_t(width) * height * 4, 200));
    auto png = image->pngData();
    return std::string(png.begin(), png.end());
}

} // namespace

TEST(ImageBounds, SizeLimitTakenFromTheHeaderOfEachKind)
{
    struct Case {
        std::string name, bytes;
        int width, height; // 0: refused
    } cases[] = {
        { "png at the side limit", pngOf(1024, 256), 1024, 256 },
        { "png tall", pngOf(1, 1024), 1, 1024 },
        { "png one too wide", pngOf(1025, 1), 0, 0 },
        { "png one row beyond the pixel limit", pngOf(512, 513), 0, 0 },
        { "png 8192 x 8192 in 8 KB", adnet::zeroPng(8192, 8192), 0, 0 },
        { "png of zeros, allowed", adnet::zeroPng(320, 48), 320, 48 },
        { "jpeg banner", adnet::flatJpeg(320, 48), 320, 48 },
        { "jpeg claiming 8000 x 8000", adnet::withJpegSize(adnet::flatJpeg(64, 64), 8000, 8000), 0, 0 },
        { "jpeg claiming 1025 x 16", adnet::withJpegSize(adnet::flatJpeg(16, 16), 1025, 16), 0, 0 },
        { "gif banner", adnet::constantGif(320, 48, { { 320, 48 } }), 320, 48 },
        { "gif screen beyond the limit", adnet::constantGif(2000, 2, { { 2, 2 } }), 0, 0 },
    };
    for (auto& c : cases) {
        auto image = decode(c.bytes);
        if (c.width == 0) {
            EXPECT_FALSE(image) << c.name;
            continue;
        }
        ASSERT_TRUE(image) << c.name;
        EXPECT_EQ(image->width(), c.width) << c.name;
        EXPECT_EQ(image->height(), c.height) << c.name;
    }
}

TEST(ImageBounds, GifYieldsItsFirstFrameOnTheScreen)
{
    // Later frames are never read, whatever they claim.
    auto first = decode(adnet::constantGif(16, 16, { { 16, 16 }, { 20000, 20000 } }));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width(), 16);
    EXPECT_EQ(first->pixels()[0], 200); // colour 1 of the table
    EXPECT_EQ(first->pixels()[3], 255);

    // A frame larger than the screen is cut to it; one beyond the limit is refused.
    auto cut = decode(adnet::constantGif(4, 3, { { 16, 16 } }));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->width(), 4);
    EXPECT_EQ(cut->height(), 3);
    EXPECT_FALSE(decode(adnet::constantGif(1, 1, { { 20000, 20000 }, { 20000, 20000 }, { 20000, 20000 } })));
    EXPECT_FALSE(decode(adnet::constantGif(1, 1, { { 1025, 1 } })));
}

TEST(ImageBounds, CutShortOrCorruptIsNoPicture)
{
    const std::string jpeg = adnet::flatJpeg(320, 48);
    struct Case {
        std::string name, bytes;
    } cases[] = {
        { "png", adnet::cutShort(pngOf(64, 64), 0.7) },
        { "jpeg", adnet::cutShort(jpeg, 0.6) },
        { "jpeg without its end marker", jpeg.substr(0, jpeg.size() - 2) },
        { "gif", adnet::cutShort(adnet::constantGif(320, 48, { { 320, 48 } }), 0.6) },
        { "gif before its frame", adnet::cutShort(adnet::constantGif(320, 48, { { 320, 48 } }), 0.1) },
    };
    for (auto& c : cases)
        EXPECT_FALSE(decode(c.bytes)) << c.name;
    EXPECT_TRUE(decode(jpeg)); // the whole file is fine
}

TEST(ImageBounds, ProgressiveJpegScansAreBounded)
{
    auto usual = decode(adnet::flatJpeg(320, 48, -1));
    ASSERT_TRUE(usual);
    EXPECT_EQ(usual->width(), 320);
    // 3 x 63 x 6 + 2 scans: each one a pass over every block.
    EXPECT_FALSE(decode(adnet::flatJpeg(320, 48, 5)));
}
