#include "shells/qt/QtLocationSource.h"

#include "kit/core/Platform.h"

#include <QCoreApplication>
#include <QGeoPositionInfoSource>

#include <cstdlib>

namespace qtshell {

QtLocationSource::QtLocationSource(QGeoPositionInfoSource* source)
    : m_source(source)
{
    if (!source)
        return;
    source->setParent(QCoreApplication::instance());
    // Qt delivers these on its loop, which is kit's main loop.
    QObject::connect(source, &QGeoPositionInfoSource::positionUpdated, source, [this](const QGeoPositionInfo& info) {
        if (!m_running || !info.coordinate().isValid())
            return;
        auto c = info.coordinate();
        report({ c.latitude(), c.longitude() });
    });
    QObject::connect(source, &QGeoPositionInfoSource::errorOccurred, source, [this](QGeoPositionInfoSource::Error error) {
        // A timeout is only a missed fix; the other errors mean no fixes will come.
        if (error == QGeoPositionInfoSource::UpdateTimeoutError || error == QGeoPositionInfoSource::NoError)
            return;
        m_refused = true;
        stop();
    });
}

QtLocationSource::~QtLocationSource()
{
    // The connections capture this; the Qt source may outlive us.
    if (m_source) {
        m_source->stopUpdates();
        m_source->disconnect();
        m_source->deleteLater();
    }
}

bool QtLocationSource::enabled() const
{
    return m_source && !m_refused;
}

void QtLocationSource::start()
{
    if (!enabled() || m_running)
        return;
    m_running = true;
    m_source->startUpdates();
}

void QtLocationSource::stop()
{
    if (!m_running)
        return;
    m_running = false;
    if (m_source)
        m_source->stopUpdates();
}

bool installSystemLocationSource(std::function<QGeoPositionInfoSource*()> makeSource)
{
    // A fixed position is asked for on purpose (demos, tests): kit's source gives it.
    const char* fixed = std::getenv("QUORVANE_FIXED_LOCATION");
    if (fixed && *fixed)
        return false;
    QGeoPositionInfoSource* source = makeSource ? makeSource() : QGeoPositionInfoSource::createDefaultSource(nullptr);
    if (!source)
        return false;
    // Asked once here: with geoclue each asking is a round trip on the system bus.
    if (source->supportedPositioningMethods() == QGeoPositionInfoSource::NoPositioningMethods) {
        delete source;
        return false;
    }
    kit::Platform::current().setLocationSource(std::make_shared<QtLocationSource>(source));
    return true;
}

} // namespace qtshell
