#pragma once
// One running Quorvane per user. A second start finds the first through a
// local socket and asks it to show its window again, then leaves: this is
// the way back after the window was closed, on desktops and handhelds
// without a system tray.
#include <QObject>
#include <QString>

#include <functional>

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
    // Becomes the running instance; false (with a reason) if it cannot.
    bool listen(std::function<void()> onShowRequest, QString* error = nullptr);

private:
    QString m_name;
    QLocalServer* m_server { nullptr };
    std::function<void()> m_onShow;
};

} // namespace qtshell
