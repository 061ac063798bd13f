#include "shells/qt/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <optional>

#include <unistd.h>

namespace qtshell {

namespace {
const QByteArray showRequest = "show\n";
const QByteArray openPrefix = "open ";
// A request line longer than this is no request of ours.
constexpr qint64 maxRequest = 64 * 1024;
}

QString SingleInstance::defaultName()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists())
        return QString::fromLocal8Bit(runtime) + QStringLiteral("/quorvane.instance");
    return QDir::tempPath() + QStringLiteral("/quorvane-%1.instance").arg(::getuid());
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
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
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
