#include "Mqtt.h"

#include "Store.h"

#include <QMetaObject>

#include <mosquitto.h>

namespace collector {

namespace {

// Messages handed to the library and not yet acknowledged; more wait in the store.
constexpr std::size_t kWindow = 64;
constexpr int kKeepAliveSeconds = 30;
constexpr int kLastDelaySeconds = 30;

} // namespace

MqttPublisher::MqttPublisher(Store& store, MqttOptions options, QObject* parent)
    : QObject(parent), m_store(store), m_options(std::move(options)), m_firstConnect(this)
{
    m_firstConnect.setSingleShot(true);
    connect(&m_firstConnect, &QTimer::timeout, this, &MqttPublisher::connectFirst);
}

MqttPublisher::~MqttPublisher()
{
    if (!m_mosq)
        return;
    m_firstConnect.stop();
    mosquitto_disconnect(m_mosq);
    // Connected, the library's thread sends the DISCONNECT and ends by
    // itself; cancelling it there could leave it halfway through a packet
    // or one of our callbacks. Without a connection it may sit in a
    // connect() that only the kernel's timeout would end: cancelled.
    if (m_loopStarted)
        mosquitto_loop_stop(m_mosq, !m_connected);
    mosquitto_destroy(m_mosq);
    mosquitto_lib_cleanup();
}

bool MqttPublisher::start(QString* error)
{
    mosquitto_lib_init();
    m_mosq = mosquitto_new(nullptr, true, this);
    if (!m_mosq) {
        *error = "cannot create the MQTT client";
        return false;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_reconnect_delay_set(m_mosq, 1, kLastDelaySeconds, true);
    // Callbacks run on the library's thread: hand everything to ours.
    mosquitto_connect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
        auto* p = static_cast<MqttPublisher*>(self);
        QMetaObject::invokeMethod(p, [p, rc] { p->onConnected(rc); }, Qt::QueuedConnection);
    });
    mosquitto_disconnect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
        auto* p = static_cast<MqttPublisher*>(self);
        QMetaObject::invokeMethod(p, [p, rc] { p->onDisconnected(rc); }, Qt::QueuedConnection);
    });
    mosquitto_publish_callback_set(m_mosq, [](mosquitto*, void* self, int mid) {
        auto* p = static_cast<MqttPublisher*>(self);
        QMetaObject::invokeMethod(p, [p, mid] { p->onPublished(mid); }, Qt::QueuedConnection);
    });
    if (!m_options.user.isEmpty()) {
        const QByteArray user = m_options.user.toUtf8(), password = m_options.password.toUtf8();
        if (mosquitto_username_pw_set(m_mosq, user.constData(),
                                      m_options.password.isNull() ? nullptr : password.constData()) != MOSQ_ERR_SUCCESS) {
            *error = "cannot set the MQTT user";
            return false;
        }
    }
    if (!m_options.caFile.isEmpty()) {
        const QByteArray ca = m_options.caFile.toLocal8Bit();
        const int rc = mosquitto_tls_set(m_mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QString("MQTT TLS with CA file %1: %2").arg(m_options.caFile, mosquitto_strerror(rc));
            return false;
        }
    }
    if (!m_options.user.isEmpty() && m_options.caFile.isEmpty())
        qWarning("the MQTT user name and password travel to %s:%d without TLS: anyone on the way can read them "
                 "(give the CA file with --mqtt-cafile)", qPrintable(m_options.host), m_options.port);
    connectFirst();
    return true;
}

void MqttPublisher::connectFirst()
{
    const QByteArray host = m_options.host.toUtf8();
    const int rc = mosquitto_connect_async(m_mosq, host.constData(), m_options.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (rc != m_lastFailure)
            qWarning("MQTT broker %s:%d not reachable (%s); events are kept, retrying with back-off up to %d s",
                     host.constData(), m_options.port, mosquitto_strerror(rc), kLastDelaySeconds);
        m_lastFailure = rc;
        m_firstConnect.start(m_firstDelayMs);
        m_firstDelayMs = std::min(m_firstDelayMs * 2, kLastDelaySeconds * 1000);
        return;
    }
    // From here on the library's thread reconnects by itself.
    if (!m_loopStarted) {
        const int loop = mosquitto_loop_start(m_mosq);
        if (loop != MOSQ_ERR_SUCCESS) {
            qWarning("cannot start the MQTT client: %s; retrying", mosquitto_strerror(loop));
            m_firstConnect.start(m_firstDelayMs);
            return;
        }
        m_loopStarted = true;
    }
}

void MqttPublisher::onConnected(int rc)
{
    if (rc != 0) {
        if (rc != m_lastFailure)
            qWarning("MQTT broker %s:%d refused the connection: %s", qPrintable(m_options.host), m_options.port,
                     mosquitto_connack_string(rc));
        m_lastFailure = rc;
        return;
    }
    qInfo("MQTT broker %s:%d connected; %d stored events to publish", qPrintable(m_options.host), m_options.port,
          m_store.pendingCount());
    m_connected = true;
    m_everConnected = true;
    m_lastFailure = -1;
    // Whatever was in flight on the old connection is sent again, in order
    // (QoS 1 allows a message to arrive more than once).
    m_inFlight.clear();
    m_lastSent = 0;
    pump();
}

void MqttPublisher::onDisconnected(int rc)
{
    if (m_connected)
        qWarning("MQTT broker %s:%d connection lost (%s); events are kept until it is back",
                 qPrintable(m_options.host), m_options.port, mosquitto_strerror(rc));
    m_connected = false;
}

void MqttPublisher::onPublished(int mid)
{
    const auto it = m_inFlight.find(mid);
    if (it == m_inFlight.end())
        return;  // from an earlier connection; its row has been sent again
    m_store.markPublished(it->second);
    m_inFlight.erase(it);
    pump();
}

void MqttPublisher::pump()
{
    if (!m_connected || m_inFlight.size() >= kWindow)
        return;
    const auto rows = m_store.pendingForMqtt(m_lastSent, int(kWindow - m_inFlight.size()));
    for (const EventRow& r : rows) {
        const QByteArray payload = eventJson(r);
        const QByteArray topic = QString("%1/%2/event")
                                     .arg(m_options.topicPrefix, r.terminal ? QString::number(*r.terminal) : "unknown")
                                     .toUtf8();
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, topic.constData(), int(payload.size()), payload.constData(), 1, false);
        if (rc != MOSQ_ERR_SUCCESS)
            return;  // the connection went; sent again after the reconnect
        m_inFlight[mid] = r.id;
        m_lastSent = r.id;
    }
}

} // namespace collector
