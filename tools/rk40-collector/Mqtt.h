#pragma once

// Publishes stored events to an MQTT broker with QoS 1, oldest first. A row
// stays marked in the store until the broker has acknowledged it, so events
// that arrive while the broker is away are sent when it is back. The
// library's network thread only posts to this object; the store is touched
// on the owner thread alone.

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <map>

struct mosquitto;

namespace collector {

class Store;

struct MqttOptions {
    QString host;            // empty: no MQTT
    int port = 1883;
    QString topicPrefix = "rk40";
    QString user;
    QString password;
    QString caFile;          // TLS with this CA file when set
};

class MqttPublisher : public QObject {
    Q_OBJECT
public:
    MqttPublisher(Store& store, MqttOptions options, QObject* parent = nullptr);
    ~MqttPublisher() override;

    // Starts connecting (and reconnecting, 1 s doubling to 30 s). False with
    // `error` set when the client cannot be set up at all.
    bool start(QString* error);
    // New rows are in the store.
    void pump();

private:
    void onConnected(int rc);
    void onDisconnected(int rc);
    void onPublished(int mid);
    void connectFirst();

    Store& m_store;
    MqttOptions m_options;
    mosquitto* m_mosq = nullptr;
    bool m_connected = false;
    bool m_everConnected = false;
    int m_lastFailure = -1;
    // Until a first connection is under way the library does not retry:
    // this timer does, with the same back-off.
    QTimer m_firstConnect;
    int m_firstDelayMs = 1000;
    bool m_loopStarted = false;
    std::map<int, std::int64_t> m_inFlight;  // message id -> event id
    std::int64_t m_lastSent = 0;
};

} // namespace collector
