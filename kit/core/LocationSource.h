#pragma once
// The system's location service, as the application sees it: enabled or not, start,
// stop, and one callback with each fix (latitude and longitude in degrees),
// delivered on the main run loop.
//
// The source is the platform's (Platform::setLocationSource: a shell gives its
// own; tests give a stand-in). Without one, the environment's source is used: it is
// disabled unless QUORVANE_FIXED_LOCATION holds "LATITUDE,LONGITUDE", and then
// reports that position once after each start.
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kit {

struct Location {
    double latitude { 0 };
    double longitude { 0 };
};

class LocationSource {
public:
    virtual ~LocationSource() = default;

    virtual bool enabled() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;

    // The one listener; the source keeps no reference to whoever set it.
    std::function<void(LocationSource& source, const Location& fix)> onLocation;

    // The platform's source.
    static LocationSource& current();
    // The source that reads QUORVANE_FIXED_LOCATION.
    static std::shared_ptr<LocationSource> fromEnvironment();

protected:
    void report(const Location& fix);
};

// "LAT,LON" with both numbers in range; none otherwise.
std::optional<Location> parseLocation(const std::string& text);

} // namespace kit
