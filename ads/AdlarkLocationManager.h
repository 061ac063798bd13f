#pragma once
// AdlarkLocationManager: the last known position, kept as "LAT,LON" text
// ("%f,%f") in "adlark/location_cache/location.txt" under the user's
// document folder; the file's modification time is the time of the fix. A
// position older than maximumAge seconds is refreshed from the system's
// location source (kit::LocationSource); the fix arrives later, by callback.
//
// One instance per process, never freed, made on first use under a lock. The
// two fields are read lazily from the file and guarded by a lock (the ad
// request reads them on the main thread; fixes arrive there too).
#include "kit/core/LocationSource.h"

#include <mutex>
#include <optional>
#include <string>

class AdlarkLocationManager {
public:
    static constexpr double maximumAge = 300.0;
    // A fix within this many degrees of 0,0 in both coordinates is dropped.
    static constexpr double nullFixTolerance = 0.001;

    static AdlarkLocationManager& sharedManager();
    static std::string stringForLocation(const kit::Location& location);
    static const std::string& cacheFilePath();

    bool locationServicesEnabled() const;
    // Seconds since 1 January 1970.
    std::optional<double> lastUpdated();
    std::optional<std::string> locationString();
    void setLastUpdated(std::optional<double> date);
    void setLocationString(std::optional<std::string> text);

    void updateIfAppropriate();
    // Whether a fix of that date needs refreshing: none at all, or older
    // than maximumAge seconds (a fix exactly that old is still good).
    static bool isStale(std::optional<double> lastUpdated, double now);
    void writeLocationStringToCache();
    void locationManagerDidUpdateToLocation(kit::LocationSource& manager, const kit::Location& newLocation,
        const std::optional<kit::Location>& oldLocation);

    AdlarkLocationManager(const AdlarkLocationManager&) = delete;
    AdlarkLocationManager& operator=(const AdlarkLocationManager&) = delete;

private:
    AdlarkLocationManager() = default;

    mutable std::mutex m_lock;
    std::optional<double> m_lastUpdated;
    std::optional<std::string> m_locationString;
};
