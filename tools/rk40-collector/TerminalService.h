#pragma once

// The terminals behind the HTTP API: their state as the ports report it,
// and the operations on them (status, clock, pause, keys). Each operation
// is queued to the thread of the port's own control and runs there between
// blocks (every member call under the control's exchange lock); its answer
// comes back to the HTTP thread. A port that is retrying or paused answers
// 503 with the reason; the other ports go on collecting.

#include "Accounts.h"
#include "HttpTransport.h"

#include "terminalops/KeyTable.h"

#include <QJsonArray>
#include <QString>

#include <functional>
#include <vector>

namespace component {
class IDispatchControl;
}

namespace collector {

class PortWorker;
class Store;

class TerminalService {
public:
    // `store` reads on this (the HTTP) thread; `keysLog`: the key audit file.
    TerminalService(std::vector<PortWorker*> ports, Store& store, QString keysLog);

    PortWorker* find(const QString& port) const;
    const std::vector<PortWorker*>& ports() const { return m_ports; }
    QJsonArray list() const;

    void status(PortWorker* port, const Responder& responder);
    void setClock(PortWorker* port, const Responder& responder);
    void pause(PortWorker* port, int minutes, const Responder& responder);
    void resume(PortWorker* port, const Responder& responder);

    void listKeys(PortWorker* port, const Responder& responder);
    void addKey(PortWorker* port, const terminalops::Key& key, const QString& user, const Responder& responder);
    void removeKey(PortWorker* port, const QString& id, const QString& user, const Responder& responder);
    void syncKeys(PortWorker* port, const terminalops::KeyList& wanted, const QString& user, const Responder& responder);

    // Runs `op` on the port's control on its thread; its reply is sent here.
    using ControlOperation = std::function<Reply(component::IDispatchControl& control)>;
    void run(PortWorker* port, const Responder& responder, ControlOperation op);

private:
    std::vector<PortWorker*> m_ports;
    Store& m_store;
    QString m_keysLog;
};

} // namespace collector
