#include "shells/qt/StatusBar.h"

#include "shells/qt/ActivityWheel.h"
#include "shells/qt/ViewPeer.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QPainter>
#include <QSysInfo>
#include <QTime>
#include <QWindow>

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <thread>
#include <type_traits>

namespace qtshell {

namespace {

// The few X calls a step needs, found in the X library that Qt's X11 plugin
// has already loaded: the program links nothing of X itself, and on Wayland
// none of it is there.
struct Xcb {
    decltype(&::xcb_generate_id) generateId;
    decltype(&::xcb_get_setup) getSetup;
    decltype(&::xcb_setup_roots_iterator) rootsIterator;
    decltype(&::xcb_screen_next) screenNext;
    decltype(&::xcb_screen_allowed_depths_iterator) depthsIterator;
    decltype(&::xcb_depth_next) depthNext;
    decltype(&::xcb_depth_visuals_iterator) visualsIterator;
    decltype(&::xcb_visualtype_next) visualNext;
    decltype(&::xcb_setup_pixmap_formats) pixmapFormats;
    decltype(&::xcb_setup_pixmap_formats_length) pixmapFormatsLength;
    decltype(&::xcb_get_geometry) getGeometry;
    decltype(&::xcb_get_geometry_reply) getGeometryReply;
    decltype(&::xcb_get_window_attributes) getWindowAttributes;
    decltype(&::xcb_get_window_attributes_reply) getWindowAttributesReply;
    decltype(&::xcb_create_pixmap) createPixmap;
    decltype(&::xcb_free_pixmap) freePixmap;
    decltype(&::xcb_create_gc) createGc;
    decltype(&::xcb_free_gc) freeGc;
    decltype(&::xcb_put_image) putImage;
    decltype(&::xcb_copy_area) copyArea;
    decltype(&::xcb_flush) flush;
    decltype(&::xcb_connection_has_error) hasError;

    static const Xcb* get()
    {
        static const Xcb* loaded = []() -> const Xcb* {
            void* lib = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_NOLOAD);
            if (!lib)
                return nullptr;
            static Xcb x;
            bool ok = true;
            auto load = [&](auto& fn, const char* name) {
                fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
                ok = ok && fn;
            };
            load(x.generateId, "xcb_generate_id");
            load(x.getSetup, "xcb_get_setup");
            load(x.rootsIterator, "xcb_setup_roots_iterator");
            load(x.screenNext, "xcb_screen_next");
            load(x.depthsIterator, "xcb_screen_allowed_depths_iterator");
            load(x.depthNext, "xcb_depth_next");
            load(x.visualsIterator, "xcb_depth_visuals_iterator");
            load(x.visualNext, "xcb_visualtype_next");
            load(x.pixmapFormats, "xcb_setup_pixmap_formats");
            load(x.pixmapFormatsLength, "xcb_setup_pixmap_formats_length");
            load(x.getGeometry, "xcb_get_geometry");
            load(x.getGeometryReply, "xcb_get_geometry_reply");
            load(x.getWindowAttributes, "xcb_get_window_attributes");
            load(x.getWindowAttributesReply, "xcb_get_window_attributes_reply");
            load(x.createPixmap, "xcb_create_pixmap");
            load(x.freePixmap, "xcb_free_pixmap");
            load(x.createGc, "xcb_create_gc");
            load(x.freeGc, "xcb_free_gc");
            load(x.putImage, "xcb_put_image");
            load(x.copyArea, "xcb_copy_area");
            load(x.flush, "xcb_flush");
            load(x.hasError, "xcb_connection_has_error");
            return ok ? &x : nullptr;
        }();
        return loaded;
    }
};

} // namespace

// The wheel's steps in one picture kept by the X server, side by side, for
// one window at one pixel ratio: a step is one copy, no image travels. While
// the bar says nothing lies over the wheel, a thread of its own makes the
// copies on Qt's connection (xcb takes requests from any thread): it wakes
// for nothing else, where Qt's loop would go through its timers, its event
// filters and a poll of every source ten times a second. The thread knows
// nothing of the application; it is told where to copy, and when to stop.
class ServerWheel {
public:
    static std::unique_ptr<ServerWheel> create()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return nullptr;
        auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        const Xcb* x = Xcb::get();
        if (!native || !native->connection() || !x)
            return nullptr;
        return std::unique_ptr<ServerWheel>(new ServerWheel(*x, native->connection()));
    }

    ~ServerWheel()
    {
        {
            std::lock_guard lock(m_mutex);
            m_turning = false;
            m_quit = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
        release();
    }

    // Steps the wheel from the thread, at `at` in the window the steps are
    // held for, going on from `step`.
    void turn(QPoint at, int step)
    {
        std::lock_guard lock(m_mutex);
        m_at = at;
        if (!m_turning) {
            m_turning = true;
            m_step.store(step);
            // A pause of a moment keeps the beat; after a longer one a step waits a whole interval.
            const auto now = Clock::now();
            if (m_next < now)
                m_next = now + interval;
        }
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_wake.notify_one();
    }

    // Once this returns, no copy is under way and none follows: what Qt
    // draws over the wheel from now on reaches the server after the last one.
    void stop()
    {
        std::lock_guard lock(m_mutex);
        m_turning = false;
    }

    int step() const { return m_step.load(); }

    using Clock = std::chrono::steady_clock;
    static constexpr auto interval = std::chrono::milliseconds(100);

    // Whether the steps are in the server for this window at this size.
    bool holds(xcb_window_t window, QSize frame) const { return m_pixmap && m_window == window && m_frame == frame; }

    // Puts the steps into the server; false where the window's pixels are not
    // the plain 32-bit ones the pictures are (Qt then draws every step).
    bool upload(xcb_window_t window, const std::array<QImage, 12>& frames)
    {
        release();
        const QSize frame = frames[0].size();
        if (m_x.hasError(m_c) || !suits(window))
            return false;
        m_pixmap = m_x.generateId(m_c);
        m_x.createPixmap(m_c, m_depth, m_pixmap, window, uint16_t(frame.width() * 12), uint16_t(frame.height()));
        m_gc = m_x.generateId(m_c);
        // No GraphicsExpose or NoExpose event for each copy: nothing would read them.
        const uint32_t noExposures = 0;
        m_x.createGc(m_c, m_gc, m_pixmap, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
        for (int i = 0; i < 12; ++i) {
            const QImage image = frames[size_t(i)].convertToFormat(QImage::Format_RGB32);
            if (image.size() != frame || image.bytesPerLine() != frame.width() * 4) {
                release();
                return false;
            }
            m_x.putImage(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_pixmap, m_gc, uint16_t(frame.width()), uint16_t(frame.height()),
                int16_t(i * frame.width()), 0, 0, m_depth, uint32_t(image.sizeInBytes()), image.constBits());
        }
        m_window = window;
        m_frame = frame;
        return true;
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quit) {
            if (!m_turning) {
                m_wake.wait(lock);
                continue;
            }
            // Woken early (told something, or for nothing): look again, the beat unchanged.
            if (m_wake.wait_until(lock, m_next) == std::cv_status::no_timeout || !m_turning || m_quit)
                continue;
            const auto now = Clock::now();
            m_next += interval;
            if (m_next <= now)
                m_next = now + interval; // after a stall, no burst of steps
            const int next = (m_step.load() + 1) % 12;
            m_step.store(next);
            // Under the lock: stop() waits for this copy to be on its way.
            draw(next, m_at);
        }
    }

    void draw(int step, QPoint at)
    {
        if (!m_pixmap || m_x.hasError(m_c))
            return;
        m_x.copyArea(m_c, m_pixmap, m_window, m_gc, int16_t(step * m_frame.width()), 0, int16_t(at.x()), int16_t(at.y()),
            uint16_t(m_frame.width()), uint16_t(m_frame.height()));
        m_x.flush(m_c);
    }

    ServerWheel(const Xcb& x, xcb_connection_t* c)
        : m_x(x)
        , m_c(c)
    {
    }

    // A window of depth 24 or 32 whose pixels are 32 bits in our byte order,
    // red, green and blue a byte each: what QImage's RGB32 is.
    bool suits(xcb_window_t window)
    {
        auto* geometry = m_x.getGeometryReply(m_c, m_x.getGeometry(m_c, window), nullptr);
        auto* attributes = m_x.getWindowAttributesReply(m_c, m_x.getWindowAttributes(m_c, window), nullptr);
        const uint8_t depth = geometry ? geometry->depth : 0;
        const xcb_visualid_t visual = attributes ? attributes->visual : 0;
        std::free(geometry);
        std::free(attributes);
        if (depth != 24 && depth != 32)
            return false;
        const xcb_setup_t* setup = m_x.getSetup(m_c);
        const bool littleEndian = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
        if ((setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST) != littleEndian)
            return false;
        bool bits32 = false;
        const xcb_format_t* formats = m_x.pixmapFormats(setup);
        for (int i = 0, n = m_x.pixmapFormatsLength(setup); i < n; ++i)
            if (formats[i].depth == depth)
                bits32 = formats[i].bits_per_pixel == 32;
        if (!bits32)
            return false;
        for (auto s = m_x.rootsIterator(setup); s.rem; m_x.screenNext(&s))
            for (auto d = m_x.depthsIterator(s.data); d.rem; m_x.depthNext(&d))
                for (auto v = m_x.visualsIterator(d.data); v.rem; m_x.visualNext(&v))
                    if (v.data->visual_id == visual) {
                        m_depth = depth;
                        return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xff0000
                            && v.data->green_mask == 0xff00 && v.data->blue_mask == 0xff;
                    }
        return false;
    }

    void release()
    {
        // The connection goes with the application object: nothing to give back then.
        if (qGuiApp && !m_x.hasError(m_c)) {
            if (m_gc)
                m_x.freeGc(m_c, m_gc);
            if (m_pixmap)
                m_x.freePixmap(m_c, m_pixmap);
            if (m_gc || m_pixmap)
                m_x.flush(m_c);
        }
        m_gc = 0;
        m_pixmap = 0;
        m_window = 0;
        m_frame = {};
    }

    const Xcb& m_x;
    xcb_connection_t* m_c;
    uint8_t m_depth { 0 };
    xcb_window_t m_window { 0 };
    xcb_pixmap_t m_pixmap { 0 };
    xcb_gcontext_t m_gc { 0 };
    QSize m_frame;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    bool m_turning { false };
    bool m_quit { false };
    QPoint m_at;
    Clock::time_point m_next {};
    std::atomic<int> m_step { 0 };
};

StatusBar::StatusBar(QWidget* parent)
    : QWidget(parent)
    , m_font(ViewPeer::toQFont(kit::Font::boldSystemFont(12)))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Ten steps a second look like the handheld's wheel.
    m_spin.setInterval(100);
    connect(&m_spin, &QTimer::timeout, this, [this] { step(); });
    m_clock.setSingleShot(true);
    connect(&m_clock, &QTimer::timeout, this, [this] {
        update(clockRect());
        scheduleClock();
    });
}

StatusBar::~StatusBar() = default;

QRect StatusBar::wheelRect() const
{
    return QRect(wheelCentreX - 8, height() / 2 - 8, 16, 16);
}

QString StatusBar::title()
{
    return QStringLiteral("Quorvane");
}

QRect StatusBar::clockRect() const
{
    return QRect(width() / 2 - 30, 0, 60, height());
}

void StatusBar::scheduleClock()
{
    // Wakes when the minute turns, not before.
    const QTime now = QTime::currentTime();
    m_clock.start((60 - now.second()) * 1000 - now.msec() + 50);
}

void StatusBar::setNetworkActivity(bool visible)
{
    if (m_activity == visible)
        return;
    m_activity = visible;
    updateSpin();
    update(wheelRect());
}

void StatusBar::updateSpin()
{
    // The wheel turns only while someone can see it: by the server's copies
    // where it can, else on Qt's timer.
    if (m_activity && isVisible()) {
        if (turnInServer())
            m_spin.stop();
        else if (!m_spin.isActive())
            m_spin.start();
    } else {
        pauseServer();
        m_spin.stop();
    }
}

bool StatusBar::isWheelCovered() const
{
    // Widgets stack in their parent's order of children, the last on top.
    QRect area = wheelRect();
    for (const QWidget* w = this; !w->isWindow(); w = w->parentWidget()) {
        const QWidget* parent = w->parentWidget();
        if (!parent)
            return true;
        area.translate(w->pos());
        if (!parent->rect().contains(area))
            return true;
        bool above = false;
        for (const QObject* child : parent->children()) {
            if (child == w) {
                above = true;
                continue;
            }
            auto* sibling = qobject_cast<const QWidget*>(child);
            if (above && sibling && !sibling->isWindow() && sibling->isVisible() && sibling->geometry().intersects(area))
                return true;
        }
    }
    return false;
}

void StatusBar::step()
{
    m_step = (m_step + 1) % 12;
    update(wheelRect());
    // Back to the server's copies once nothing lies over the wheel again.
    if (turnInServer())
        m_spin.stop();
}

int StatusBar::shownStep() const
{
    return m_serverTurning ? m_server->step() : m_step;
}

void StatusBar::pauseServer()
{
    if (!m_serverTurning)
        return;
    m_server->stop();
    m_step = m_server->step();
    m_serverTurning = false;
}

void StatusBar::giveUpServer()
{
    pauseServer();
    m_serverUsable = false;
    m_server.reset();
}

bool StatusBar::turnInServer()
{
    if (!m_serverUsable)
        return false;
    QWindow* handle = window()->windowHandle();
    // The copy goes straight to the window: only while what Qt would show
    // there is the wheel itself, and on whole pixels of the screen.
    const qreal ratio = devicePixelRatioF();
    const QRect square(mapTo(window(), wheelRect().topLeft()), wheelRect().size());
    const QRectF onScreen(QPointF(square.topLeft()) * ratio, QSizeF(square.size()) * ratio);
    const QRect whole = onScreen.toRect();
    if (!m_activity || !isVisible() || !updatesEnabled() || !handle || !handle->isExposed() || isWheelCovered()
        || QRectF(whole) != onScreen || wheelFrame(shownStep()).size() != whole.size()) {
        pauseServer();
        return false;
    }
    if (!m_server) {
        m_server = ServerWheel::create();
        if (m_server) {
            // Whatever may come to lie over the wheel, or move it, or take the window away.
            qApp->installEventFilter(this);
            connect(qApp, &QCoreApplication::aboutToQuit, this, &StatusBar::giveUpServer);
        }
    }
    const auto id = xcb_window_t(handle->winId());
    bool held = m_server && m_server->holds(id, whole.size());
    if (m_server && !held) {
        pauseServer(); // the thread copies from the pictures being replaced
        held = m_server->upload(id, m_wheelFrames);
    }
    if (!held) {
        // Not X11, or not pixels the steps are: Qt draws every step from now on.
        giveUpServer();
        return false;
    }
    m_server->turn(whole.topLeft(), m_step);
    m_serverTurning = true;
    return true;
}

bool StatusBar::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::ZOrderChange:
    case QEvent::ParentChange:
    case QEvent::Expose:
    case QEvent::WindowStateChange:
    case QEvent::ScreenChangeInternal:
    case QEvent::PlatformSurface:
    case QEvent::WinIdChange:
        // Stopped at once, before anything new is painted, and looked at again
        // once the change is whole (a widget shown is often placed after).
        if (m_serverTurning) {
            pauseServer();
            if (!m_lookAgain) {
                m_lookAgain = true;
                QMetaObject::invokeMethod(
                    this, [this] {
                        m_lookAgain = false;
                        updateSpin();
                    },
                    Qt::QueuedConnection);
            }
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void StatusBar::showEvent(QShowEvent*)
{
    updateSpin();
    scheduleClock();
    update();
}

void StatusBar::hideEvent(QHideEvent*)
{
    updateSpin();
    m_clock.stop();
}

void StatusBar::resizeEvent(QResizeEvent* event)
{
    // The steps carry the background behind them, which follows the height.
    if (event->oldSize().height() != height())
        dropWheelFrames();
}

void StatusBar::paintBackground(QPainter& p, const QRect& area) const
{
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(0x5c, 0x5f, 0x63));
    g.setColorAt(1, QColor(0x2a, 0x2c, 0x2f));
    p.fillRect(area, g);
}

void StatusBar::paintEvent(QPaintEvent* event)
{
    // Most repaints are the wheel's own square ten times a second: only what
    // meets the part to repaint is drawn (laying out text is the dear part).
    const QRect dirty = event->rect();
    QPainter p(this);
    const bool wheelShown = m_activity && dirty.intersects(wheelRect());
    if (wheelShown && wheelRect().contains(dirty)) {
        // The step is opaque and holds the background too: nothing else to draw.
        p.drawImage(wheelRect().topLeft(), wheelFrame(shownStep()));
        return;
    }
    paintBackground(p, dirty);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_titleWidth < 0)
        m_titleWidth = QFontMetrics(m_font).horizontalAdvance(title()) + 1;
    const QRect titleRect(6, 0, m_titleWidth, height());
    if (dirty.intersects(titleRect) || dirty.intersects(clockRect())) {
        p.setFont(m_font);
        p.setPen(Qt::white);
        if (dirty.intersects(titleRect))
            p.drawText(rect().adjusted(6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title());
        if (dirty.intersects(clockRect()))
            p.drawText(rect(), Qt::AlignCenter, QTime::currentTime().toString(QStringLiteral("HH:mm")));
    }
    // The battery, always full: a desktop has no such thing to show.
    if (dirty.intersects(QRect(width() - 31, 0, 31, height()))) {
        QRectF battery(width() - 30, 5, 22, 10);
        p.setPen(QPen(Qt::white, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(battery, 2, 2);
        p.fillRect(battery.adjusted(2, 2, -2, -2), Qt::white);
        p.fillRect(QRectF(battery.right() + 1, 8, 2, 4), Qt::white);
    }
    // The activity wheel: twelve spokes, the lit one turning.
    if (wheelShown)
        p.drawImage(wheelRect().topLeft(), wheelFrame(shownStep()));
}

void StatusBar::dropWheelFrames()
{
    for (auto& frame : m_wheelFrames)
        frame = QImage();
}

const QImage& StatusBar::wheelFrame(int step)
{
    const qreal ratio = devicePixelRatioF();
    if (m_wheelFrames[0].isNull() || m_wheelFrames[0].devicePixelRatio() != ratio) {
        // All twelve at once: the server takes them together.
        const QRect square = wheelRect();
        const QSize size = square.size() * ratio;
        for (int i = 0; i < 12; ++i) {
            QImage spokes(size, QImage::Format_ARGB32_Premultiplied);
            spokes.setDevicePixelRatio(ratio);
            spokes.fill(Qt::transparent);
            {
                QPainter p(&spokes);
                p.setRenderHint(QPainter::Antialiasing);
                ActivityWheel { 3.0, 6.5, 1.6, Qt::white }.draw(p, QPointF(square.width() / 2.0, square.height() / 2.0), i);
            }
            QImage frame(size, QImage::Format_RGB32);
            frame.setDevicePixelRatio(ratio);
            QPainter p(&frame);
            p.translate(-square.topLeft());
            paintBackground(p, square);
            p.drawImage(square.topLeft(), spokes);
            p.end();
            m_wheelFrames[size_t(i)] = std::move(frame);
        }
    }
    return m_wheelFrames[size_t(step)];
}

} // namespace qtshell
