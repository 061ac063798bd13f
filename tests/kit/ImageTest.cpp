#include "kit/gfx/Image.h"
#include "tools/adnet/HostileMedia.h"

#include <gtest/gtest.h>
#include <vector>

TEST(Image, DecodesPngJpegAndGifAndRefusesOtherBytes)
{
    std::vector<uint8_t> pixels = { 255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 10, 20, 30, 255 };
    auto original = kit::Image::fromRGBA(2, 2, pixels);
    ASSERT_TRUE(original);
    auto png = original->pngData();
    auto back = kit::Image::fromData(png);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->samePixels(*original));

    const std::string jpegBytes = adnet::solidJpeg(8, 4, 200, 40, 40);
    auto jpeg = kit::Image::fromData(reinterpret_cast<const uint8_t*>(jpegBytes.data()), jpegBytes.size());
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width(), 8);
    EXPECT_EQ(jpeg->height(), 4);
    EXPECT_NEAR(jpeg->pixels()[0], 200, 6);
    EXPECT_EQ(jpeg->pixels()[3], 255);

    const std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02" "D\x01\x00;", 43);
    auto pixel = kit::Image::fromData(reinterpret_cast<const uint8_t*>(gif.data()), gif.size());
    ASSERT_TRUE(pixel);
    EXPECT_EQ(pixel->width(), 1);
    EXPECT_EQ(pixel->pixels()[3], 0); // the transparent index

    for (std::string junk : { std::string(), std::string("not a picture"), std::string("\x89PNG\r\n\x1a\nbroken"),
             std::string("\xff\xd8\xff\xe0 cut short"), std::string("GIF89a\x01\x00") }) {
        EXPECT_FALSE(kit::Image::fromData(reinterpret_cast<const uint8_t*>(junk.data()), junk.size())) << junk;
    }
    EXPECT_FALSE(kit::Image::fromRGBA(2, 2, std::vector<uint8_t>(3)));
}
