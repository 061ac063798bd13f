#pragma once
// The service's socket: the views of other processes (the window, a
// headless shell started later) reach the transfers' owner here. Each view
// says HELLO with the protocol's version, then gets the whole list after
// every change and on every tick, and its questions answered
// (ServiceProtocol). The socket is in the user's private runtime folder,
// one per device, and only this user's processes are heard.
#include "kit/core/ErrorOr.h"
#include "transfers/ServiceProtocol.h"
#include "transfers/TransferService.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kit {
class LocalConnection;
class LocalServer;
}

class ServiceEndpoint {
public:
    // Where this device's service listens (empty without a private runtime folder).
    static std::string socketPath();

    // Serves `service`, which outlives it (it owns it: TransferService::serve).
    static kit::ErrorOr<std::unique_ptr<ServiceEndpoint>> listen(TransferService& service, const std::string& path);
    ~ServiceEndpoint();

    size_t viewCount() const;
    // A view asked the service to end (Exit): every transfer was told to stop.
    std::function<void()> onQuit;
    // A view came or went.
    std::function<void()> onViewsChanged;

private:
    struct View;
    ServiceEndpoint(TransferService& service, std::unique_ptr<kit::LocalServer> server);
    void connected(const std::shared_ptr<kit::LocalConnection>& connection);
    void heard(View& view, const service::Message& message);
    void sendList(View& view, const char* event);
    void sendAll(const char* event);
    void seenChanged();
    void gone(kit::LocalConnection& connection);

    TransferService* m_service;
    std::unique_ptr<kit::LocalServer> m_server;
    std::vector<std::unique_ptr<View>> m_views;
    std::shared_ptr<TransferService::Watcher> m_watch;
};
