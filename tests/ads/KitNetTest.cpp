#include "TestSupport.h"

#include "kit/HostMapping.h"
#include "kit/HttpRequest.h"
#include "kit/Image.h"

#include <cstdio>
#include <jpeglib.h>

using namespace adtest;

TEST(HostMapping, ParsesEntriesAndSkipsBadOnes)
{
    auto m = kit::parseHostMappings(" ads.example.test:80:127.0.0.1:8631 ; media.example.test:80:127.0.0.1:8632;"
                                    "bad:80:x;noport:x:127.0.0.1:1;v6:443:[::1]:9000;zero:0:h:1");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].host, "ads.example.test");
    EXPECT_EQ(m[0].port, 80);
    EXPECT_EQ(m[0].connectHost, "127.0.0.1");
    EXPECT_EQ(m[0].connectPort, 8631);
    EXPECT_EQ(m[1].connectToEntry(), "media.example.test:80:127.0.0.1:8632");
    EXPECT_EQ(m[2].connectHost, "[::1]");
    EXPECT_TRUE(kit::parseHostMappings("").empty());
}

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

class HttpRequestTest : public LoopTest {
protected:
    struct Trace {
        std::vector<std::string> events;
        std::string body;
        bool done = false;
    };
    std::shared_ptr<kit::HttpRequest> make(const std::string& url, Trace& t)
    {
        auto r = kit::HttpRequest::create(url);
        r->onResponse = [&t](int status) { t.events.push_back("response " + std::to_string(status)); };
        r->onData = [&t](const uint8_t* b, size_t n) {
            if (t.events.empty() || t.events.back() != "data")
                t.events.push_back("data");
            t.body.append(reinterpret_cast<const char*>(b), n);
        };
        r->onFinish = [&t] { t.events.push_back("finish"); t.done = true; };
        r->onFailure = [&t] { t.events.push_back("failure"); t.done = true; };
        return r;
    }
};

TEST_F(HttpRequestTest, DeliversResponseDataFinishInOrderWithHeaders)
{
    Trace t;
    auto r = make("http://ads.example.test/echo?body=hello", t);
    r->setHeader("X-Test", "one");
    r->setHeader("x-test", "two");
    ASSERT_TRUE(r->start());
    ASSERT_TRUE(waitFor([&] { return t.done; }));
    EXPECT_EQ(t.events, (std::vector<std::string> { "response 200", "data", "finish" }));
    EXPECT_EQ(t.body, "hello");
    auto logged = adnet().since("/echo");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].header("X-Test"), "two");
    EXPECT_EQ(logged[0].header("Host"), "ads.example.test");
}

TEST_F(HttpRequestTest, FollowsRedirectsAndReportsOnlyTheFinalResponse)
{
    Trace t;
    auto r = make("http://ads.example.test/redirect?to=/status%3Fcode%3D404%26body%3Dgone", t);
    ASSERT_TRUE(r->start());
    ASSERT_TRUE(waitFor([&] { return t.done; }));
    EXPECT_EQ(t.events, (std::vector<std::string> { "response 404", "data", "finish" }));
    EXPECT_EQ(t.body, "gone");
}

TEST_F(HttpRequestTest, RefusesWhatIsNoHttpUrlSynchronously)
{
    for (std::string url : { "", "no url", "ftp://ads.example.test/x", "http://", "http://a b/" }) {
        Trace t;
        auto r = make(url, t);
        EXPECT_FALSE(r->start()) << url;
        kit::RunLoop::main().advance(0.1);
        EXPECT_TRUE(t.events.empty()) << url;
    }
}

TEST_F(HttpRequestTest, CancelInsideResponseStopsEveryCallback)
{
    Trace t;
    auto r = make("http://ads.example.test/echo?body=abc", t);
    r->onResponse = [&](int) { t.events.push_back("response"); r->cancel(); };
    ASSERT_TRUE(r->start());
    waitFor([&] { return !t.events.empty(); });
    waitFor([] { return false; }, 0.2);
    EXPECT_EQ(t.events, (std::vector<std::string> { "response" }));
    EXPECT_FALSE(r->isRunning());
}

TEST_F(HttpRequestTest, TimeOutOnTheRunLoopClockAndRefusedConnectionsFail)
{
    Trace slow;
    auto r = make("http://ads.example.test/ad_source.php?s=slow", slow);
    r->setTimeout(60);
    ASSERT_TRUE(r->start());
    ASSERT_TRUE(waitFor([&] { return !adnet().since("/ad_source.php").empty(); }));
    kit::RunLoop::main().advance(59);
    EXPECT_TRUE(slow.events.empty());
    kit::RunLoop::main().advance(1);
    EXPECT_EQ(slow.events, (std::vector<std::string> { "failure" }));

    Trace refused;
    auto closed = make("http://127.0.0.1:1/", refused);
    ASSERT_TRUE(closed->start());
    ASSERT_TRUE(waitFor([&] { return refused.done; }));
    EXPECT_EQ(refused.events, (std::vector<std::string> { "failure" }));
}
