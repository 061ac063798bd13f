#include "ads/AdlarkLocationManager.h"

#include "kit/core/FileInfo.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

std::mutex& classLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

const std::string& AdlarkLocationManager::cacheFilePath()
{
    static const std::string path = [] {
        auto folder = std::filesystem::path(kit::documentFolder()) / "adlark" / "location_cache";
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        return (folder / "location.txt").string();
    }();
    return path;
}

AdlarkLocationManager& AdlarkLocationManager::sharedManager()
{
    std::lock_guard guard(classLock());
    cacheFilePath();
    static AdlarkLocationManager* instance = new AdlarkLocationManager; // never freed
    return *instance;
}

std::string AdlarkLocationManager::stringForLocation(const kit::Location& location)
{
    char text[128];
    std::snprintf(text, sizeof text, "%f,%f", location.latitude, location.longitude);
    return text;
}

bool AdlarkLocationManager::locationServicesEnabled() const
{
    return kit::LocationSource::current().enabled();
}

std::optional<double> AdlarkLocationManager::lastUpdated()
{
    std::lock_guard guard(m_lock);
    if (!m_lastUpdated)
        m_lastUpdated = kit::fileModificationTime(cacheFilePath());
    return m_lastUpdated;
}

std::optional<std::string> AdlarkLocationManager::locationString()
{
    std::lock_guard guard(m_lock);
    if (!m_locationString) {
        if (auto bytes = kit::readWholeFile(cacheFilePath())) {
            // ASCII text: anything else is no stored position.
            bool ascii = true;
            for (auto b : *bytes)
                ascii = ascii && b < 0x80;
            if (ascii)
                m_locationString = std::string(bytes->begin(), bytes->end());
        }
    }
    return m_locationString;
}

void AdlarkLocationManager::setLastUpdated(std::optional<double> date)
{
    std::lock_guard guard(m_lock);
    m_lastUpdated = date;
}

void AdlarkLocationManager::setLocationString(std::optional<std::string> text)
{
    std::lock_guard guard(m_lock);
    m_locationString = std::move(text);
}

void AdlarkLocationManager::updateIfAppropriate()
{
    auto date = lastUpdated();
    const bool stale = isStale(date, kit::wallClockNow());
    auto& source = kit::LocationSource::current();
    if (!source.enabled() || !stale)
        return;
    source.onLocation = [](kit::LocationSource& manager, const kit::Location& fix) {
        AdlarkLocationManager::sharedManager().locationManagerDidUpdateToLocation(manager, fix, std::nullopt);
    };
    source.start();
}

bool AdlarkLocationManager::isStale(std::optional<double> lastUpdated, double now)
{
    return !lastUpdated || now - *lastUpdated > maximumAge;
}

void AdlarkLocationManager::locationManagerDidUpdateToLocation(kit::LocationSource& manager,
    const kit::Location& newLocation, const std::optional<kit::Location>&)
{
    manager.stop();
    if (!(std::fabs(newLocation.latitude) > nullFixTolerance || std::fabs(newLocation.longitude) > nullFixTolerance))
        return;
    setLocationString(stringForLocation(newLocation));
    writeLocationStringToCache();
}

void AdlarkLocationManager::writeLocationStringToCache()
{
    auto text = locationString().value_or(std::string());
    kit::writeWholeFile(cacheFilePath(), std::vector<uint8_t>(text.begin(), text.end()));
    setLastUpdated(kit::wallClockNow());
}
