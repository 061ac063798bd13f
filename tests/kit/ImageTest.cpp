#include "kit/Image.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <vector>

namespace {

std::vector<uint8_t> jpegOf(int width, int height, uint8_t r, uint8_t g, uint8_t b)
{
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    for (int x = 0; x < width; ++x)
        row[x * 3] = r, row[x * 3 + 1] = g, row[x * 3 + 2] = b;
    while (info.next_scanline < info.image_height) {
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&info, &p, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&info);
    free(out);
    return bytes;
}

} // namespace

TEST(Image, DecodesPngJpegAndGifAndRefusesOtherBytes)
{
    std::vector<uint8_t> pixels = { 255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 10, 20, 30, 255 };
    auto original = kit::Image::fromRGBA(2, 2, pixels);
    ASSERT_TRUE(original);
    auto png = original->pngData();
    auto back = kit::Image::fromData(png);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->samePixels(*original));

    auto jpeg = kit::Image::fromData(jpegOf(8, 4, 200, 40, 40));
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
