#include "shells/qt/SingleInstance.h"

#include "kit/core/RuntimeFolder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qtshell {

namespace {
const QByteArray showRequest = "show\n";
const QByteArray openPrefix = "open ";
// A request line longer than this is no request of ours.
constexpr qint64 maxRequest = 64 * 1024;
}

namespace {
// The user of the process at the other end of a connected local socket.
std::optional<uid_t> peerUser(qintptr descriptor)
{
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return credentials.uid;
}
} // namespace

QString SingleInstance::defaultName(QString* problem, QString* note)
{
    const auto folder = kit::runtimeFolder();
    if (folder.path.empty()) {
        if (problem)
            *problem = QString::fromStdString(folder.note) + QStringLiteral("; it is not used for finding a running Quorvane. Remove it, or set XDG_RUNTIME_DIR");
        return {};
    }
    if (note)
        *note = QString::fromStdString(folder.note);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && runtime.toStdString() == folder.path)
        return QString::fromStdString(folder.path) + QStringLiteral("/quorvane.instance");
    return QString::fromStdString(folder.path) + QStringLiteral("/instance");
}

SingleInstance::SingleInstance(QString name)
    : m_name(std::move(name))
{
}

SingleInstance::~SingleInstance()
{
    while (!m_peers.empty())
        hangUp(m_peers.begin()->first);
    if (m_listening >= 0) {
        ::close(m_listening);
        // The name is free for the next start.
        ::unlink(QFile::encodeName(m_name).constData());
    }
}

namespace {

// The socket address of `path`; false when the path does not fit in one.
bool addressOf(const QString& path, sockaddr_un& address)
{
    const QByteArray bytes = QFile::encodeName(path);
    std::memset(&address, 0, sizeof address);
    if (bytes.isEmpty() || size_t(bytes.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    return true;
}

// Whether `descriptor` became ready for `events` before `deadline`.
bool readyBefore(int descriptor, short events, const QDeadlineTimer& deadline)
{
    for (;;) {
        pollfd p { descriptor, events, 0 };
        const int n = ::poll(&p, 1, int(std::clamp<qint64>(deadline.remainingTime(), 0, 60000)));
        if (n > 0)
            return true; // a hang-up or an error too: the next call says which
        if (n == 0 && deadline.hasExpired())
            return false;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

QString systemError(const char* what, int error)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

bool SingleInstance::askRunningToShow(int timeoutMs)
{
    return ask(showRequest, timeoutMs);
}

bool SingleInstance::askRunningToOpen(const std::string& file, int timeoutMs)
{
    return ask(openPrefix + QByteArray::fromStdString(file).toPercentEncoding() + "\n", timeoutMs);
}

bool SingleInstance::ask(const QByteArray& request, int timeoutMs)
{
    m_foreignPeer = false;
    sockaddr_un address;
    if (!addressOf(m_name, address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer { fd };
    const QDeadlineTimer deadline(timeoutMs);
    // Nobody there (no file, or no one listening on it) is a plain no. A
    // running instance too busy to take the connection yet is tried again.
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        ::poll(nullptr, 0, 10);
    }
    // A socket answered by another user is not our running instance: it is
    // told nothing, above all not the paths of our files.
    if (peerUser(fd) != ::getuid()) {
        m_foreignPeer = true;
        return false;
    }
    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n > 0)
            sent += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        else if (!readyBefore(fd, POLLOUT, deadline))
            return false;
    }
    // The answer says the request was taken (and not a dying instance's).
    char answer[16];
    for (;;) {
        if (!readyBefore(fd, POLLIN, deadline))
            return false;
        const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
        if (n > 0)
            return QByteArray(answer, n).startsWith("ok");
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return false;
    }
}

bool SingleInstance::listen(RequestHandler onRequest, QString* error)
{
    m_onRequest = std::move(onRequest);
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    sockaddr_un address;
    if (!addressOf(m_name, address))
        return fail(QStringLiteral("%1 is too long for a socket's name").arg(m_name));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return fail(systemError("socket", errno));
    auto bind = [&] { return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0; };
    // A socket left by an instance that crashed: nobody answered on it.
    if (!bind() && (errno != EADDRINUSE || ::unlink(address.sun_path) != 0 || !bind())) {
        const int why = errno;
        ::close(fd);
        return fail(systemError(address.sun_path, why));
    }
    // This user's alone, as its folder is.
    ::chmod(address.sun_path, S_IRWXU);
    if (::listen(fd, SOMAXCONN) != 0) {
        const int why = errno;
        ::close(fd);
        ::unlink(address.sun_path);
        return fail(systemError(address.sun_path, why));
    }
    m_listening = fd;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { acceptWaiting(); });
    return true;
}

void SingleInstance::acceptWaiting()
{
    for (;;) {
        const int peer = ::accept4(m_listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (peer < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // none left waiting
        }
        // Only this user's own starts may show the window or open a file.
        if (peerUser(peer) != ::getuid()) {
            ::close(peer);
            continue;
        }
        auto* notifier = new QSocketNotifier(peer, QSocketNotifier::Read, this);
        m_peers[peer] = Peer { notifier, {} };
        connect(notifier, &QSocketNotifier::activated, this, [this, peer] { readFrom(peer); });
    }
}

void SingleInstance::readFrom(int peer)
{
    auto it = m_peers.find(peer);
    if (it == m_peers.end())
        return;
    auto& received = it->second.received;
    char chunk[4096];
    const ssize_t n = ::recv(peer, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n > 0)
        received.append(chunk, n);
    const qsizetype end = received.indexOf('\n');
    if (end < 0) {
        // More to come, unless it has ended or is no request of ours.
        if (n > 0 && received.size() <= maxRequest)
            return;
        hangUp(peer);
        return;
    }
    const QByteArray line = received.left(std::min<qsizetype>(end + 1, maxRequest));
    std::optional<std::string> file;
    if (line == showRequest)
        file = std::string();
    else if (line.startsWith(openPrefix) && line.endsWith('\n'))
        file = QByteArray::fromPercentEncoding(line.mid(openPrefix.size()).chopped(1)).toStdString();
    if (!file || file->find('\0') != std::string::npos) {
        hangUp(peer);
        return;
    }
    // Taken: the start that asked may leave now; then it is acted on.
    [[maybe_unused]] auto sent = ::send(peer, "ok\n", 3, MSG_NOSIGNAL);
    hangUp(peer);
    if (m_onRequest)
        m_onRequest(*file);
}

void SingleInstance::hangUp(int peer)
{
    auto it = m_peers.find(peer);
    if (it == m_peers.end())
        return;
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    m_peers.erase(it);
    ::close(peer);
}

} // namespace qtshell
