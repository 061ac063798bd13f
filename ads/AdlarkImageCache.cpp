#include "ads/AdlarkImageCache.h"

#include "kit/core/FileInfo.h"

#include <cmath>
#include <filesystem>
#include <mutex>

namespace {

std::mutex& classLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

std::string AdlarkImageCache::cacheFolder()
{
    // Read from the device layout at each use, so a new root (each test's own)
    // takes effect at once; made when the cache is reached and when an image is stored.
    return (std::filesystem::path(kit::documentFolder()) / "adlark" / "image_cache").string();
}

AdlarkImageCache& AdlarkImageCache::sharedCache()
{
    std::lock_guard guard(classLock());
    // The folder of the root in use is there for whoever reaches the cache.
    std::error_code ec;
    std::filesystem::create_directories(cacheFolder(), ec);
    static AdlarkImageCache* instance = new AdlarkImageCache; // never freed
    return *instance;
}

bool AdlarkImageCache::usableName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

std::string AdlarkImageCache::pathFor(const std::string& name)
{
    return cacheFolder() + "/" + name;
}

void AdlarkImageCache::storeImage(const kit::Image& image, const std::string& name)
{
    if (!usableName(name))
        return;
    auto png = image.pngData();
    if (png.empty()) {
        std::error_code ignored;
        std::filesystem::remove(pathFor(name), ignored);
        return;
    }
    // A folder that cannot be made shows later as entries never cached.
    std::error_code ec;
    std::filesystem::create_directories(cacheFolder(), ec);
    kit::writeWholeFile(pathFor(name), png);
}

bool AdlarkImageCache::imageIsInCache(const std::string& name) const
{
    if (!usableName(name))
        return false;
    auto modified = kit::fileModificationTime(pathFor(name));
    if (!modified)
        return false;
    return isFresh(*modified, kit::wallClockNow());
}

bool AdlarkImageCache::isFresh(double modified, double now)
{
    const double interval = modified - now;
    return !std::isnan(interval) && interval >= -freshnessLimit;
}

std::shared_ptr<const kit::Image> AdlarkImageCache::fetchImageNamed(const std::string& name) const
{
    if (!usableName(name))
        return nullptr;
    return kit::Image::fromFile(pathFor(name));
}
