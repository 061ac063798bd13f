#include "kit/core/LocationSource.h"

#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"

#include <cmath>
#include <cstdlib>

namespace kit {

namespace {

class EnvironmentLocationSource final : public LocationSource, public std::enable_shared_from_this<EnvironmentLocationSource> {
public:
    bool enabled() const override { return fixed().has_value(); }

    void start() override
    {
        auto position = fixed();
        if (!position)
            return;
        m_running = true;
        std::weak_ptr<EnvironmentLocationSource> weak = shared_from_this();
        RunLoop::main().post([weak, fix = *position] {
            if (auto self = weak.lock(); self && self->m_running)
                self->report(fix);
        });
    }

    void stop() override { m_running = false; }

private:
    static std::optional<Location> fixed()
    {
        const char* value = std::getenv("QUORVANE_FIXED_LOCATION");
        return value ? parseLocation(value) : std::nullopt;
    }

    bool m_running { false };
};

} // namespace

std::optional<Location> parseLocation(const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    double latitude = std::strtod(begin, &end);
    if (end == begin || *end != ',')
        return std::nullopt;
    const char* second = end + 1;
    double longitude = std::strtod(second, &end);
    if (end == second || *end != '\0')
        return std::nullopt;
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::fabs(latitude) > 90 || std::fabs(longitude) > 180)
        return std::nullopt;
    return Location { latitude, longitude };
}

LocationSource& LocationSource::current()
{
    return Platform::current().locationSource();
}

std::shared_ptr<LocationSource> LocationSource::fromEnvironment()
{
    return std::make_shared<EnvironmentLocationSource>();
}

void LocationSource::report(const Location& fix)
{
    auto callback = onLocation; // the listener may replace itself inside
    if (callback)
        callback(*this, fix);
}

} // namespace kit
