#pragma once
// AdlarkImageCache: downloaded images kept as PNG files, one per name, in
// "adlark/image_cache" under the user's document folder. An entry counts as
// cached while its file was written at most freshnessLimit seconds ago (or
// in the future); an older file can still be fetched.
//
// One instance per process, never freed, made on first use under a lock.
// The folder is fixed when the class is first used. Names are plain file
// names; a name with a folder separator (or "." / "..") is refused: nothing is
// stored, nothing is cached and nothing is fetched under it.
#include "kit/gfx/Image.h"

#include <memory>
#include <string>

class AdlarkImageCache {
public:
    static constexpr double freshnessLimit = 3141592.0;

    static AdlarkImageCache& sharedCache();
    static std::string cacheFolder();

    // Writes the image's PNG encoding, replacing the file. An image without a
    // PNG encoding removes the entry instead, so that nothing stale is fetched.
    void storeImage(const kit::Image& image, const std::string& name);
    bool imageIsInCache(const std::string& name) const;
    // The freshness rule itself: written at most freshnessLimit seconds
    // before now (the limit included), or later than now.
    static bool isFresh(double modified, double now);
    std::shared_ptr<const kit::Image> fetchImageNamed(const std::string& name) const;

    AdlarkImageCache(const AdlarkImageCache&) = delete;
    AdlarkImageCache& operator=(const AdlarkImageCache&) = delete;

private:
    AdlarkImageCache() = default;
    static bool usableName(const std::string& name);
    static std::string pathFor(const std::string& name);
};
