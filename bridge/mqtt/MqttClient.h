#pragma once
// One connection to an MQTT broker, on libmosquitto, run by the event loop:
// the client's socket is watched by socket notifiers (for writing only while
// the library has bytes to send), and one keep-alive timer lets the library
// send its pings. No thread of its own, no polling.
//
// start() begins connecting and returns at once; a host name is looked up
// without blocking the loop first (except with TLS, whose certificate check
// needs the name), and the broker's port is reached on the loop before the
// library is given the connection. MQTT 5 is spoken, with a maximum packet
// size; a broker that refuses MQTT 5 is spoken to in MQTT 3.1.1. A refused or lost connection is
// retried after kFirstRetryMs, doubling to kMaxRetryMs, until stop(). onConnected runs each time
// the broker accepts the client, onDisconnected once per loss, with the reason.
//
// Bounded: when the broker stops taking what is sent and kMaxBacklogBytes
// wait unsent, the connection is dropped and made afresh (the library would
// otherwise queue without end); a subscriber republishes its state in
// onConnected. Messages arriving on subscribed topics go to onMessage.
//
// The library's callbacks run inside its read and write calls, and every call
// into the library is followed by updating what the notifiers watch. A
// handler below a callback that lets events run (a script that waits) cannot
// enter the library again: the socket goes unwatched and a due retry waits
// until the outer call has returned. The client must not be destroyed while
// busy().

#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;
class QTcpSocket;
struct mosquitto;
struct mosquitto_message;

class MqttClient {
public:
    static constexpr int kFirstRetryMs = 500;
    static constexpr int kMaxRetryMs = 30000;
    static constexpr int kKeepAliveSeconds = 60;
    static constexpr std::size_t kMaxBacklogBytes = 4 << 20;
    // The largest packet the client takes. It is the connection's MQTT 5
    // maximum packet size, so the broker drops a larger message for this
    // client without sending it; a larger payload that still arrives (from a
    // broker without MQTT 5) is dropped before onMessage.
    static constexpr std::size_t kMaxPacketBytes = 16 * 1024;

    struct Options {
        std::string host;
        int port = 1883;
        std::string user;
        std::string password;
        bool tls = false;
        std::string caFile;  // empty: the system's certificate folder
        std::string clientId;
        std::string willTopic;  // empty: no last will
        std::string willPayload;
        // A broker that stays silent this long after a ping counts as gone,
        // as when its computer froze or its network went away.
        int keepAliveSeconds = kKeepAliveSeconds;
        // An attempt without the broker's answer by then is given up, rather
        // than waiting out the system's two-minute connect time-out.
        int connectTimeoutMs = 10000;
    };

    explicit MqttClient(Options options);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    void start();
    // Publishes nothing more; a connected client says goodbye to the broker
    // (so the last will is not sent) after a retained `lastPayload` on
    // `lastTopic`, when given.
    void stop(const std::string& lastTopic = {}, const std::string& lastPayload = {});

    bool connected() const { return m_connected; }
    // False when not connected or refused by the library (a too long topic, a
    // full backlog): nothing was sent and nothing is kept for later.
    bool publish(const std::string& topic, const std::string& payload, bool retain, int qos = 0);
    bool subscribe(const std::string& pattern, int qos = 0);

    std::function<void()> onConnected;
    std::function<void(const std::string& reason)> onDisconnected;
    std::function<void(const std::string& topic, const std::string& payload, bool retained)>
        onMessage;

    // False when the settings themselves were refused (a missing CA file):
    // no attempt is made, and none will be.
    bool willRetry() const { return m_setupError.empty(); }
    // The wait before the next attempt; for logs and tests.
    int retryDelayMs() const { return m_retryMs; }
    const Options& options() const { return m_options; }
    // True while a call into the library runs (and so inside onConnected,
    // onDisconnected and onMessage): the client must not be destroyed then.
    bool busy() const { return m_inLibrary; }
    // The keep-alive in use: the library takes nothing under 5 s.
    int keepAliveSeconds() const { return std::max(5, m_options.keepAliveSeconds); }

private:
    static void connectCallback(mosquitto*, void* self, int rc);
    static void disconnectCallback(mosquitto*, void* self, int rc);
    static void messageCallback(mosquitto*, void* self, const mosquitto_message* message);

    void connectTo(const std::string& address);
    void openSession(const std::string& address);
    void dropProbe();
    void connectionLost(const std::string& reason);
    void scheduleRetry();
    void readReady();
    void writeReady();
    void keepAlive();
    // One call into the library from the event loop, and what follows it.
    void step(const std::function<int()>& call);
    // After every call into the library: watch its current socket, for writing
    // only while it has something to send; and count what waits unsent.
    void updateNotifiers();
    void dropNotifiers();

    Options m_options;
    mosquitto* m_mosq = nullptr;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    // The reachability check before each attempt (see connectTo).
    std::unique_ptr<QTcpSocket> m_probe;
    int m_protocol = 5;  // MQTT_PROTOCOL_V5, until a broker refuses it
    int m_fd = -1;
    QTimer m_retryTimer;
    QTimer m_connectTimer;
    QTimer m_keepAliveTimer;
    int m_retryMs = kFirstRetryMs;
    int m_lookupId = -1;
    std::size_t m_backlog = 0;  // bytes published since the library last had nothing to send
    bool m_running = false;
    bool m_connected = false;
    bool m_lossReported = false;
    // False from a loss until the next attempt: the library keeps the old
    // socket until then, and it is no longer watched.
    bool m_watching = false;
    std::string m_setupError;
    // Set while a library call runs, so a callback that wants a new connection
    // leaves it to the retry timer instead of re-entering the library.
    bool m_inLibrary = false;
};
