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
//
// The socket lives in a folder only this user can reach (the runtime folder,
// or one Quorvane makes in the temporary folder with mode 0700 and checks is
// its own before use), and both ends check the other's user (SO_PEERCRED):
// another local user can neither answer a start nor be handed its files.
//
// Plain Unix sockets under Qt's socket notifiers: Qt's network library, and
// the Kerberos and proxy libraries it brings, would cost every start of the
// window their loading for this one socket.
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <string>

class QSocketNotifier;

namespace qtshell {

class SingleInstance : public QObject {
public:
    // $XDG_RUNTIME_DIR/quorvane.instance, or "instance" in the user's private
    // runtime folder (kit/core/RuntimeFolder.h), whose `note` says where
    // another folder had to serve. Empty, with the reason in `problem`, when
    // no private folder could be had.
    static QString defaultName(QString* problem = nullptr, QString* note = nullptr);

    explicit SingleInstance(QString name = defaultName());
    ~SingleInstance() override;

    // Whether the last ask reached a socket answered by another user (the
    // request was not sent).
    bool metForeignPeer() const { return m_foreignPeer; }

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
    void acceptWaiting();
    void readFrom(int peer);
    void hangUp(int peer);

    QString m_name;
    int m_listening { -1 };
    struct Peer {
        QSocketNotifier* notifier;
        QByteArray received;
    };
    // Each connection, by its descriptor.
    std::map<int, Peer> m_peers;
    bool m_foreignPeer { false };
    RequestHandler m_onRequest;
};

} // namespace qtshell
