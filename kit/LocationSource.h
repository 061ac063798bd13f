#pragma once
// The system's location service, as the application sees it: enabled or not, start,
// stop, and one callback with each fix (latitude and longitude in degrees),
// delivered on the main run loop.
//
// One source is installed per process (a shell installs its own; tests
// install a stand-in). Without one, the environment's source is used: it is
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

    static LocationSource& current();
    // Replaces the process's source (nullptr: back to the environment's).
    static void install(std::shared_ptr<LocationSource> source);

protected:
    void report(const Location& fix);
};

// "LAT,LON" with both numbers in range; none otherwise.
std::optional<Location> parseLocation(const std::string& text);

} // namespace kit
