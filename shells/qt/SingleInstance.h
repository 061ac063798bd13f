#pragma once
// One running Quorvane per user. A second start finds the first through a
// local socket and asks it to show its window again, or to open a .torrent
// file (what the desktop does for a file opened from a file manager), then
// leaves: this is the way back after the window was closed, on desktops and
// handhelds without a system tray.
//
// The requests are one line each: "show", or "open " and the file's path
// percent-escaped (a path may hold any byte but NUL). The running instance
// answers "ok" once it has taken the request, before acting on it.
#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QLocalServer;

namespace qtshell {

class SingleInstance : public QObject {
public:
    // $XDG_RUNTIME_DIR/quorvane.instance, or one in the temporary folder.
    static QString defaultName();

    explicit SingleInstance(QString name = defaultName());
    ~SingleInstance() override;

    // True when a running instance took the request to show its window.
    bool askRunningToShow(int timeoutMs = 2000);
    // True when a running instance took the file (an absolute path, or an
    // address it will refuse with an alert of its own).
    bool askRunningToOpen(const std::string& file, int timeoutMs = 2000);

    // Called for each request taken: the file to open, or empty to only show.
    using RequestHandler = std::function<void(const std::string& file)>;
    // Becomes the running instance; false (with a reason) if it cannot.
    bool listen(RequestHandler onRequest, QString* error = nullptr);

private:
    bool ask(const QByteArray& request, int timeoutMs);

    QString m_name;
    QLocalServer* m_server { nullptr };
    RequestHandler m_onRequest;
};

} // namespace qtshell
