#pragma once
// kit's location source on Qt Positioning. Installed after the window's first
// frame where the system has a positioning source (geoclue on a desktop or a
// phone); otherwise, and whenever QUORVANE_FIXED_LOCATION asks for a fixed
// position, kit's own source stays.
#include "kit/core/LocationSource.h"

#include <QPointer>

#include <functional>
#include <memory>

class QGeoPositionInfoSource;

namespace qtshell {

class QtLocationSource final : public kit::LocationSource {
public:
    // Takes the Qt source (reparented to the application, which outlives Qt
    // objects where kit's installed source does not).
    explicit QtLocationSource(QGeoPositionInfoSource* source);
    ~QtLocationSource() override;

    bool enabled() const override;
    void start() override;
    void stop() override;

private:
    QPointer<QGeoPositionInfoSource> m_source;
    bool m_running { false };
    // The system said no (access refused, service gone): off from then on.
    bool m_refused { false };
};

// Installs a QtLocationSource on the system's default source; false, leaving
// the installed source as it is, when there is none or a fixed position is set.
// makeSource is for tests; by default QGeoPositionInfoSource::createDefaultSource.
bool installSystemLocationSource(std::function<QGeoPositionInfoSource*()> makeSource = {});

} // namespace qtshell
