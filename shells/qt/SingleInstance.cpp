#include "shells/qt/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <optional>

#include <QFile>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qtshell {

namespace {
const QByteArray showRequest = "show\n";
const QByteArray openPrefix = "open ";
// A request line longer than this is no request of ours.
constexpr qint64 maxRequest = 64 * 1024;
}

namespace {
// Why `folder` is not this user's alone (owner, a folder, not a link, no one
// else may enter it), or empty when it is.
QString foreignFolderProblem(const QByteArray& folder)
{
    struct stat st {};
    if (::lstat(folder.constData(), &st) != 0)
        return QStringLiteral("%1 cannot be used: %2").arg(QString::fromLocal8Bit(folder), QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder of its own (a link or a file stands there)").arg(QString::fromLocal8Bit(folder));
    if (st.st_uid != ::getuid())
        return QStringLiteral("%1 belongs to another user (uid %2)").arg(QString::fromLocal8Bit(folder)).arg(st.st_uid);
    if (st.st_mode & 077)
        return QStringLiteral("%1 can be reached by other users (mode %2)").arg(QString::fromLocal8Bit(folder)).arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

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

QString SingleInstance::defaultName(QString* problem)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists() && foreignFolderProblem(runtime).isEmpty())
        return QString::fromLocal8Bit(runtime) + QStringLiteral("/quorvane.instance");
    // The temporary folder is everyone's: the socket goes into a folder of
    // our own there, made private, and used only once it is seen to be ours.
    const QByteArray folder = QFile::encodeName(QDir::tempPath() + QStringLiteral("/quorvane-%1").arg(::getuid()));
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        if (problem)
            *problem = QStringLiteral("cannot make %1: %2").arg(QString::fromLocal8Bit(folder), QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    if (auto why = foreignFolderProblem(folder); !why.isEmpty()) {
        if (problem)
            *problem = why + QStringLiteral("; it is not used for finding a running Quorvane. Remove it, or set XDG_RUNTIME_DIR");
        return {};
    }
    return QString::fromLocal8Bit(folder) + QStringLiteral("/instance");
}

SingleInstance::SingleInstance(QString name)
    : m_name(std::move(name))
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

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
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // A socket answered by another user is not our running instance: it is
    // told nothing, above all not the paths of our files.
    if (peerUser(socket.socketDescriptor()) != ::getuid()) {
        m_foreignPeer = true;
        return false;
    }
    socket.write(request);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The answer says the request was taken (and not a dying instance's).
    if (!socket.waitForReadyRead(timeoutMs))
        return false;
    return socket.readAll().startsWith("ok");
}

bool SingleInstance::listen(RequestHandler onRequest, QString* error)
{
    m_onRequest = std::move(onRequest);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // A socket left by an instance that crashed: nobody answered on it.
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name)) {
            if (error)
                *error = m_server->errorString();
            return false;
        }
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (auto* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // Only this user's own starts may show the window or open a file.
            if (peerUser(socket->socketDescriptor()) != ::getuid()) {
                socket->disconnectFromServer();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > maxRequest)
                        socket->disconnectFromServer();
                    return;
                }
                const QByteArray line = socket->readLine(maxRequest);
                std::optional<std::string> file;
                if (line == showRequest)
                    file = std::string();
                else if (line.startsWith(openPrefix) && line.endsWith('\n'))
                    file = QByteArray::fromPercentEncoding(line.mid(openPrefix.size()).chopped(1)).toStdString();
                if (file && file->find('\0') == std::string::npos) {
                    socket->write("ok\n");
                    socket->flush();
                    if (m_onRequest)
                        m_onRequest(*file);
                }
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}

} // namespace qtshell
