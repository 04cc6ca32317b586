#include "mqtt/MqttClient.h"

#include <fcntl.h>
#include <mqtt_protocol.h>
#include <poll.h>

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mqtt/MosquittoLibrary.h"

namespace {

// Called only once a client exists, which needs the library loaded.
const MosquittoLibrary& api() {
    return *MosquittoLibrary::load();
}

std::string reasonOf(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return api().strerror(rc);
}

bool isNumeric(const std::string& host) {
    QHostAddress address;
    return address.setAddress(QString::fromStdString(host));
}

// How long stop() waits for the goodbye to leave.
constexpr int kFlushMs = 500;

}  // namespace

MqttClient::MqttClient(Options options) : m_options(std::move(options)) {
    m_retryTimer.setSingleShot(true);
    QObject::connect(&m_retryTimer, &QTimer::timeout, [this] { start(); });
    m_connectTimer.setSingleShot(true);
    QObject::connect(&m_connectTimer, &QTimer::timeout, [this] {
        if (!m_connected) connectionLost("no answer from the broker");
    });
    // A ping goes out once the keep-alive time has passed without traffic; the
    // library can only do that when asked, so ask four times per period.
    m_keepAliveTimer.setInterval(keepAliveSeconds() * 1000 / 4);
    QObject::connect(&m_keepAliveTimer, &QTimer::timeout, [this] { keepAlive(); });

    if (MosquittoLibrary::load() == nullptr) {
        m_setupError = "cannot load the MQTT library: " + MosquittoLibrary::error();
        return;
    }
    m_mosq =
        api().create(m_options.clientId.empty() ? nullptr : m_options.clientId.c_str(), true, this);
    if (m_mosq == nullptr) {
        m_setupError = "cannot create an MQTT client: " + std::string(std::strerror(errno));
        return;
    }
    // An event and the state after it leave as two small packets: without
    // this the second waits for the broker's delayed acknowledgement.
    api().int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    // MQTT 5 lets the client name the largest packet it takes, and the
    // broker then drops what is larger instead of sending it.
    api().int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    api().connect_callback_set(m_mosq, &MqttClient::connectCallback);
    api().disconnect_callback_set(m_mosq, &MqttClient::disconnectCallback);
    api().message_callback_set(m_mosq, &MqttClient::messageCallback);
    int rc = MOSQ_ERR_SUCCESS;
    if (!m_options.user.empty())
        rc = api().username_pw_set(
            m_mosq, m_options.user.c_str(),
            m_options.password.empty() ? nullptr : m_options.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !m_options.willTopic.empty())
        rc = api().will_set(m_mosq, m_options.willTopic.c_str(),
                            static_cast<int>(m_options.willPayload.size()),
                            m_options.willPayload.data(), 1, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        m_setupError = "MQTT settings refused: " + reasonOf(rc);
        return;
    }
    if (m_options.tls) {
        const bool file = !m_options.caFile.empty();
        rc = api().tls_set(m_mosq, file ? m_options.caFile.c_str() : nullptr,
                           file ? nullptr : "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            m_setupError =
                "MQTT TLS set-up failed (CA file \"" + m_options.caFile + "\"): " + reasonOf(rc);
    }
}

MqttClient::~MqttClient() {
    stop();
    if (m_mosq != nullptr) api().destroy(m_mosq);
}

void MqttClient::start() {
    m_running = true;
    if (m_inLibrary) {
        // A retry that came due while a handler lets events run: the library
        // is mid-call, so the attempt waits for it to return.
        m_retryTimer.start(100);
        return;
    }
    if (!m_setupError.empty()) {
        // Nothing a retry could mend: reported once, never retried.
        if (!m_lossReported) {
            m_lossReported = true;
            if (onDisconnected) onDisconnected(m_setupError);
        }
        return;
    }
    if (m_options.tls || isNumeric(m_options.host)) {
        connectTo(m_options.host);
        return;
    }
    // The library would look the name up inside the event loop's thread.
    m_lookupId = QHostInfo::lookupHost(
        QString::fromStdString(m_options.host), &m_retryTimer, [this](const QHostInfo& info) {
            m_lookupId = -1;
            if (!m_running) return;
            const QList<QHostAddress> addresses = info.addresses();
            if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
                connectionLost("cannot find " + m_options.host + ": " +
                               info.errorString().toStdString());
                return;
            }
            // IPv4 first: a broker set up for a home LAN usually listens there.
            auto it = std::find_if(addresses.begin(), addresses.end(), [](const QHostAddress& a) {
                return a.protocol() == QAbstractSocket::IPv4Protocol;
            });
            connectTo((it != addresses.end() ? *it : addresses.front()).toString().toStdString());
        });
}

void MqttClient::connectTo(const std::string& address) {
    m_connected = false;
    // The library's MQTT 5 connect blocks until the TCP connection is made,
    // which for an unreachable host is the system's two minutes. A connection
    // of our own made on the event loop shows first that the broker takes
    // connections; the library's own one then returns at once.
    dropProbe();
    m_probe = std::make_unique<QTcpSocket>();
    // The library connects directly, so the probe does too.
    m_probe->setProxy(QNetworkProxy::NoProxy);
    QObject::connect(m_probe.get(), &QTcpSocket::connected, [this, address] {
        dropProbe();
        openSession(address);
    });
    QObject::connect(m_probe.get(), &QTcpSocket::errorOccurred, [this] {
        const std::string why = m_probe->errorString().toStdString();
        dropProbe();
        connectionLost("cannot connect to " + m_options.host + ":" +
                       std::to_string(m_options.port) + ": " + why);
    });
    m_connectTimer.start(m_options.connectTimeoutMs);
    const QHostAddress numeric(QString::fromStdString(address));
    if (numeric.isNull())
        m_probe->connectToHost(QString::fromStdString(address),
                               static_cast<quint16>(m_options.port));
    else
        m_probe->connectToHost(numeric, static_cast<quint16>(m_options.port));
}

void MqttClient::openSession(const std::string& address) {
    m_watching = true;
    mosquitto_property* properties = nullptr;
    if (m_protocol == MQTT_PROTOCOL_V5)
        api().property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE,
                                 static_cast<uint32_t>(kMaxPacketBytes));
    m_inLibrary = true;
    const int rc = api().connect_bind_v5(m_mosq, address.c_str(), m_options.port,
                                         keepAliveSeconds(), nullptr, properties);
    m_inLibrary = false;
    api().property_free_all(&properties);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_CONN_PENDING) {
        connectionLost("cannot connect to " + m_options.host + ":" +
                       std::to_string(m_options.port) + ": " + reasonOf(rc));
        return;
    }
    // Connected the blocking way: every read and write from here on must
    // return at once, whatever the library left the socket as.
    if (const int fd = api().socket(m_mosq); fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    updateNotifiers();
}

void MqttClient::dropProbe() {
    if (!m_probe) return;
    // Its own signal may be running: cut loose now, deleted once the loop is back.
    QObject::disconnect(m_probe.get(), nullptr, nullptr, nullptr);
    m_probe->abort();
    m_probe.release()->deleteLater();
}

void MqttClient::connectCallback(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    client->m_connectTimer.stop();
    if (rc != 0) {
        const bool v5 = client->m_protocol == MQTT_PROTOCOL_V5;
        if (v5 && (rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION ||
                   rc == CONNACK_REFUSED_PROTOCOL_VERSION)) {
            // A broker that predates MQTT 5: MQTT 3.1.1 from the next attempt
            // on, where only the size check on arrival bounds a message.
            client->m_protocol = MQTT_PROTOCOL_V311;
            api().int_option(client->m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        }
        client->connectionLost(std::string("the broker refused the connection: ") +
                               (v5 ? api().reason_string(rc) : api().connack_string(rc)));
        return;
    }
    client->m_connected = true;
    client->m_lossReported = false;
    client->m_retryMs = kFirstRetryMs;
    client->m_backlog = 0;
    client->m_keepAliveTimer.start();
    if (client->onConnected) client->onConnected();
}

void MqttClient::disconnectCallback(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    client->connectionLost(rc == 0 ? std::string("disconnected") : reasonOf(rc));
}

void MqttClient::messageCallback(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    if (!client->onMessage || message == nullptr || message->topic == nullptr) return;
    if (message->payloadlen < 0 || static_cast<std::size_t>(message->payloadlen) > kMaxPacketBytes)
        return;
    const std::string payload(static_cast<const char*>(message->payload),
                              message->payload != nullptr
                                  ? static_cast<std::size_t>(std::max(message->payloadlen, 0))
                                  : 0U);
    client->onMessage(message->topic, payload, message->retain);
}

void MqttClient::connectionLost(const std::string& reason) {
    m_connected = false;
    m_watching = false;
    m_keepAliveTimer.stop();
    m_connectTimer.stop();
    dropProbe();
    dropNotifiers();
    if (!m_running) return;
    if (!m_lossReported) {
        m_lossReported = true;
        if (onDisconnected) onDisconnected(reason);
    }
    scheduleRetry();
}

void MqttClient::scheduleRetry() {
    if (m_retryTimer.isActive() || m_lookupId != -1) return;
    m_retryTimer.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, kMaxRetryMs);
}

void MqttClient::readReady() {
    step([this] { return api().loop_read(m_mosq, 1); });
}

void MqttClient::writeReady() {
    step([this] { return api().loop_write(m_mosq, 1); });
}

void MqttClient::keepAlive() {
    step([this] { return api().loop_misc(m_mosq); });
}

void MqttClient::step(const std::function<int()>& call) {
    if (m_inLibrary) {
        // Re-entered: a handler below a callback let events run (a script
        // waiting). The library is mid-packet and must not be entered again;
        // the socket is watched afresh once the outer call has returned.
        if (m_readNotifier) m_readNotifier->setEnabled(false);
        if (m_writeNotifier) m_writeNotifier->setEnabled(false);
        return;
    }
    m_inLibrary = true;
    const int rc = call();
    m_inLibrary = false;
    // The library may have reported the loss through its callback already.
    if (rc != MOSQ_ERR_SUCCESS && m_watching) connectionLost(reasonOf(rc));
    updateNotifiers();
}

void MqttClient::updateNotifiers() {
    const int fd = m_watching && m_mosq != nullptr ? api().socket(m_mosq) : -1;
    if (fd != m_fd) {
        dropNotifiers();
        if (fd >= 0) {
            m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated,
                             [this] { readReady(); });
            m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
            QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated,
                             [this] { writeReady(); });
        }
        m_fd = fd;
    }
    if (m_readNotifier) m_readNotifier->setEnabled(true);
    if (m_writeNotifier) {
        const bool pending = api().want_write(m_mosq);
        m_writeNotifier->setEnabled(pending);
        if (!pending) m_backlog = 0;
    }
}

void MqttClient::dropNotifiers() {
    // A notifier may be the one whose signal is running: it is switched off
    // and cut loose now, and deleted once the loop is back.
    for (auto* slot : {&m_readNotifier, &m_writeNotifier}) {
        if (!*slot) continue;
        (*slot)->setEnabled(false);
        QObject::disconnect(slot->get(), nullptr, nullptr, nullptr);
        slot->release()->deleteLater();
    }
    m_fd = -1;
}

bool MqttClient::publish(const std::string& topic, const std::string& payload, bool retain,
                         int qos) {
    if (!m_connected || m_mosq == nullptr) return false;
    if (api().want_write(m_mosq)) {
        m_backlog += topic.size() + payload.size();
        if (m_backlog > kMaxBacklogBytes) {
            // The broker has stopped reading: a fresh connection frees what
            // the library holds, and the subscriber sends its state again.
            connectionLost("the broker takes nothing sent (" +
                           std::to_string(kMaxBacklogBytes >> 20) + " MiB waiting)");
            return false;
        }
    }
    const int rc = api().publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                 payload.data(), qos, retain);
    if (!m_inLibrary) updateNotifiers();
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const std::string& pattern, int qos) {
    if (!m_connected || m_mosq == nullptr) return false;
    const int rc = api().subscribe(m_mosq, nullptr, pattern.c_str(), qos);
    if (!m_inLibrary) updateNotifiers();
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttClient::stop(const std::string& lastTopic, const std::string& lastPayload) {
    const bool wasRunning = m_running;
    m_running = false;
    if (m_lookupId != -1) QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
    m_retryTimer.stop();
    m_connectTimer.stop();
    m_keepAliveTimer.stop();
    if (wasRunning && m_connected && m_mosq != nullptr) {
        if (!lastTopic.empty())
            api().publish(m_mosq, nullptr, lastTopic.c_str(), static_cast<int>(lastPayload.size()),
                          lastPayload.data(), 0, true);
        api().disconnect(m_mosq);
        // The goodbye leaves now or never: a bounded wait for the socket.
        const int fd = api().socket(m_mosq);
        for (int waited = 0; fd >= 0 && api().want_write(m_mosq) && waited < kFlushMs;
             waited += 50) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 50) > 0 && api().loop_write(m_mosq, 1) != MOSQ_ERR_SUCCESS) break;
        }
    }
    m_connected = false;
    m_watching = false;
    dropProbe();
    dropNotifiers();
}
