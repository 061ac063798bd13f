#include "ads/AdlarkImageCache.h"

#include "kit/core/DeviceLayout.h"
#include "kit/core/FileInfo.h"
#include "tests/support/TempFolder.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

std::shared_ptr<const kit::Image> picture(uint8_t shade)
{
    return kit::Image::fromRGBA(2, 1, { shade, 2, 3, 255, 4, 5, shade, 128 });
}

std::string pathOf(const std::string& name)
{
    return AdlarkImageCache::cacheFolder() + "/" + name;
}

} // namespace

TEST(AdlarkImageCache, StoresUnderTheDocumentFolderAndFetchesTheSamePixels)
{
    auto& cache = AdlarkImageCache::sharedCache();
    EXPECT_EQ(&cache, &AdlarkImageCache::sharedCache());
    EXPECT_EQ(AdlarkImageCache::cacheFolder(), kit::documentFolder() + "/adlark/image_cache");

    auto image = picture(9);
    cache.storeImage(*image, "back");
    EXPECT_TRUE(std::filesystem::exists(pathOf("back")));
    EXPECT_TRUE(cache.imageIsInCache("back"));
    auto fetched = cache.fetchImageNamed("back");
    ASSERT_TRUE(fetched);
    EXPECT_TRUE(fetched->samePixels(*image));

    EXPECT_FALSE(cache.imageIsInCache("never-stored"));
    EXPECT_FALSE(cache.fetchImageNamed("never-stored"));
}

TEST(AdlarkImageCache, FreshnessLimitByFileTime)
{
    auto& cache = AdlarkImageCache::sharedCache();
    cache.storeImage(*picture(1), "aging");
    struct Case {
        double age;
        bool fresh;
    } cases[] = { { 0, true }, { 3141590, true }, { 3141600, false }, { -500, true }, { 40e6, false } };
    for (auto& c : cases) {
        ASSERT_TRUE(kit::setFileModificationTime(pathOf("aging"), kit::wallClockNow() - c.age));
        EXPECT_EQ(cache.imageIsInCache("aging"), c.fresh) << c.age;
        EXPECT_TRUE(cache.fetchImageNamed("aging")) << "an old entry can still be fetched";
    }
    // The rule at its exact boundary: the limit itself is still fresh.
    const double now = 1.8e9;
    EXPECT_TRUE(AdlarkImageCache::isFresh(now - 3141592, now));
    EXPECT_FALSE(AdlarkImageCache::isFresh(now - 3141593, now));
    EXPECT_FALSE(AdlarkImageCache::isFresh(now - 3141592.001, now));
    EXPECT_TRUE(AdlarkImageCache::isFresh(now + 1, now));
    EXPECT_FALSE(AdlarkImageCache::isFresh(std::nan(""), now));
    // Storing again renews the entry.
    cache.storeImage(*picture(2), "aging");
    EXPECT_TRUE(cache.imageIsInCache("aging"));
}

TEST(AdlarkImageCache, UnreadableFilesAndUnusableNames)
{
    auto& cache = AdlarkImageCache::sharedCache();
    ASSERT_TRUE(kit::writeWholeFile(pathOf("junk"), { 'n', 'o', 'p', 'e' }));
    EXPECT_TRUE(cache.imageIsInCache("junk"));
    EXPECT_FALSE(cache.fetchImageNamed("junk"));

    for (std::string name : { "", ".", "..", "../escape", "a/b" }) {
        cache.storeImage(*picture(3), name);
        EXPECT_FALSE(cache.imageIsInCache(name)) << name;
        EXPECT_FALSE(cache.fetchImageNamed(name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(AdlarkImageCache::cacheFolder() + "/../escape"));
}

TEST(AdlarkImageCache, FollowsTheDeviceRootOfTheMomentSoEachTestMayUseItsOwn)
{
    auto& layout = kit::DeviceLayout::current();
    const std::string before = layout.root();
    auto& cache = AdlarkImageCache::sharedCache();
    {
        testsupport::TempFolder own;
        layout.setRoot(own.path());
        EXPECT_EQ(AdlarkImageCache::cacheFolder(), kit::documentFolder() + "/adlark/image_cache");
        EXPECT_EQ(AdlarkImageCache::cacheFolder().rfind(own.path(), 0), 0u);
        EXPECT_FALSE(cache.imageIsInCache("back")) << "nothing of the earlier root shows";
        cache.storeImage(*picture(3), "back");
        EXPECT_TRUE(std::filesystem::exists(AdlarkImageCache::cacheFolder() + "/back"));
        EXPECT_TRUE(cache.imageIsInCache("back"));
        layout.setRoot(before);
    }
    EXPECT_EQ(AdlarkImageCache::cacheFolder().rfind(before, 0), 0u);
}
