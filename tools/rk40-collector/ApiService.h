#pragma once

// The HTTP API of the service: who asks (session cookie with its CSRF token,
// or bearer token), what they may do (viewer: read; admin: change), and
// what each path does. Events are read through a store connection of this
// thread's own; terminal operations go to the ports' threads.

#include "Accounts.h"
#include "EventStream.h"
#include "HttpTransport.h"
#include "Sessions.h"
#include "TerminalService.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>

namespace collector {

class ConfigurationService;
class NameBook;
class Store;

class ApiService : public QObject {
    Q_OBJECT
public:
    ApiService(AccountFile& accounts, Store& readStore, TerminalService& terminals, ConfigurationService* configurations,
               QObject* parent = nullptr);
    ~ApiService() override;

    // Every request of the transport comes here.
    void handle(const ApiRequest& request, const Responder& responder);
    void setTransport(HttpTransport* transport) { m_transport = transport; }
    // Extra lines for /metrics (MQTT and the like), in the exposition format.
    void setMetricsSource(std::function<QByteArray()> source) { m_extraMetrics = std::move(source); }
    // The card names shown beside the cards (GET /api/v1/names).
    void setNames(NameBook* names) { m_names = names; }

    EventStream& stream() { return m_stream; }

private:
    struct Caller {
        QString name;
        Role role = Role::Viewer;
        const Session* session = nullptr;   // by cookie; null for a token
    };
    std::optional<Caller> identify(const ApiRequest& request);
    void route(const ApiRequest& request, const QStringList& segments, const Caller& caller, const Responder& responder);

    Reply login(const ApiRequest& request, bool secure);
    Reply logout(const ApiRequest& request);
    Reply events(const ApiRequest& request);
    void openStream(const ApiRequest& request, const Responder& responder);
    Reply metrics();
    void terminal(const ApiRequest& request, const QStringList& segments, const Caller& caller, const Responder& responder);

    AccountFile& m_accounts;
    Store& m_store;
    TerminalService& m_terminals;
    ConfigurationService* m_configurations;
    HttpTransport* m_transport = nullptr;
    SessionTable m_sessions;
    LoginThrottle m_throttle;
    EventStream m_stream;
    QElapsedTimer m_clock;
    std::function<QByteArray()> m_extraMetrics;
    NameBook* m_names = nullptr;
};

} // namespace collector
