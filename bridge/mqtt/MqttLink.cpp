#include "mqtt/MqttLink.h"

#include <QLoggingCategory>

#include "base/Convert.h"
#include "base/HeapTrim.h"
#include "mqtt/MqttClient.h"
#include "mqtt/MqttTopics.h"
#include "xap/X10Words.h"
#include "xap/XapLog.h"

Q_LOGGING_CATEGORY(lcMqtt, "brindle.mqtt")

namespace {
constexpr const char* kLog = "brindlehub";
}

MqttLink::MqttLink(MqttSettings settings, std::string computer, std::string version, Hooks hooks)
    : m_settings(std::move(settings)), m_hooks(std::move(hooks)) {
    m_context.discoveryPrefix = m_settings.DiscoveryPrefix;
    m_context.base = MqttTopics::base(m_settings.Prefix, computer);
    m_context.computer = computer;
    m_context.version = std::move(version);

    MqttClient::Options options;
    options.host = m_settings.Host;
    options.port = m_settings.Port;
    options.user = m_settings.User;
    options.password = m_settings.Password;
    options.tls = m_settings.TLS;
    options.caFile = m_settings.CAFile;
    // Several gateways share one broker; each needs a client id of its own.
    options.clientId = MqttDiscovery::nodeId(computer);
    options.willTopic = m_context.base + "/status";
    options.willPayload = "offline";
    m_client = std::make_unique<MqttClient>(std::move(options));
    m_client->onConnected = [this] { guarded("MQTT connect ", [&] { onBrokerConnected(); }); };
    m_client->onDisconnected = [this](const std::string& reason) {
        LogError(kLog, "MQTT broker " + m_settings.Host + ":" + std::to_string(m_settings.Port) +
                           " not reachable (" + reason + ")" +
                           (m_client->willRetry() ? "; retrying" : ""));
    };
    m_client->onMessage = [this](const std::string& topic, const std::string& payload,
                                 bool retained) {
        guarded("MQTT message ", [&] { message(topic, payload, retained); });
    };
}

MqttLink::~MqttLink() {
    stop();
}

void MqttLink::start() {
    guarded("MQTT start ", [&] {
        if (!m_hooks.lastEvents) return;
        for (const auto& [code, event] : m_hooks.lastEvents()) {
            const auto unit = MqttTopics::x10Code(code);
            const auto state = MqttTopics::stateOf(MqttTopics::eventPayload(event));
            if (unit && state) m_states.emplace(*unit, *state);
        }
    });
    m_client->start();
}

void MqttLink::stop() {
    m_client->stop(m_context.base + "/status", "offline");
}

bool MqttLink::connected() const {
    return m_client->connected();
}

bool MqttLink::busy() const {
    return m_client->busy();
}

void MqttLink::onBrokerConnected() {
    // For the journal only: the event log would put it on xAP, which the MQTT
    // link leaves as it was.
    qCInfo(lcMqtt, "connected to %s:%d as %s", m_settings.Host.c_str(), m_settings.Port,
           m_context.base.c_str());
    // Subscribed before saying "online": the broker handles one client's
    // packets in order, so whoever sees "online" can already be heard.
    m_client->subscribe(m_context.base + "/x10/+/set");
    m_client->subscribe(m_context.base + "/ninja/+/set");
    m_client->publish(m_context.base + "/status", "online", true, 1);
    for (const auto& [code, state] : m_states)
        m_client->publish(m_context.base + "/x10/" + code + "/state", state, true);
    // Everything announced goes out again: the broker may have lost it.
    m_announced.clear();
    syncDiscovery();
    m_client->subscribe(MqttDiscovery::pattern(m_context));
}

void MqttLink::x10Event(const std::string& devices, const std::string& event) {
    guarded("MQTT x10Event ", [&] { report(devices, event, true); });
}

void MqttLink::x10Command(const std::string& devices, const std::string& event) {
    guarded("MQTT x10Command ", [&] { report(devices, event, false); });
}

void MqttLink::report(const std::string& devices, const std::string& event, bool pressed) {
    const std::string payload = MqttTopics::eventPayload(event);
    const auto state = MqttTopics::stateOf(payload);
    const bool houseWide = MqttTopics::houseWide(payload);
    std::set<char> housesDone;
    for (const std::string& part : vb::Split(devices, ',')) {
        if (houseWide) {
            const auto house = MqttTopics::house(vb::Trim(part));
            if (!house || !housesDone.insert(*house).second) continue;
            if (pressed)
                m_client->publish(m_context.base + "/x10/" + *house + "/event", payload, false);
            applyToHouse(*house, payload, *state);
            continue;
        }
        const auto code = MqttTopics::x10Code(vb::Trim(part));
        if (!code) continue;
        if (pressed) m_client->publish(m_context.base + "/x10/" + *code + "/event", payload, false);
        if (state) publishState(*code, *state);
    }
}

void MqttLink::applyToHouse(char house, const std::string& payload, const std::string& state) {
    // The units the gateway knows in that house: those with a state and those
    // marked used, with what their marks say about them.
    std::map<std::string, bool> appliance;
    for (const auto& [code, unitState] : m_states)
        if (code[0] == house) appliance.emplace(code, false);
    if (m_hooks.usedDevices) {
        for (const UsedDevice& d : m_hooks.usedDevices())
            if (!d.camera && !d.code.empty() && d.code[0] == house) appliance[d.code] = d.appliance;
    }
    // An appliance module ignores all-lights commands; only all-units-off
    // switches it.
    const bool lightsOnly = payload != "all_units_off";
    for (const auto& [code, isAppliance] : appliance)
        if (!lightsOnly || !isAppliance) publishState(code, state);
}

void MqttLink::publishState(const std::string& code, const std::string& state) {
    m_states[code] = state;
    m_client->publish(m_context.base + "/x10/" + code + "/state", state, true);
}

void MqttLink::cameraPress(const std::string& code, int command) {
    guarded("MQTT cameraPress ", [&] {
        const auto radio = MqttTopics::x10Code(code);
        if (!radio || command < 5 || command > X10Words::kLastWord) return;
        m_client->publish(m_context.base + "/ninja/" + *radio + "/event",
                          MqttTopics::eventPayload(X10Words::Word(command)), false);
    });
}

void MqttLink::syncDiscovery() {
    guarded("MQTT syncDiscovery ", [&] {
        if (!m_client->connected()) return;
        std::map<std::string, std::string> wanted;
        if (m_settings.Discovery && m_hooks.usedDevices) {
            wanted = MqttDiscovery::gateway(m_context);
            std::set<char> houses;
            for (const UsedDevice& d : m_hooks.usedDevices()) {
                auto configs = d.camera ? MqttDiscovery::camera(m_context, d.code, d.name)
                                        : MqttDiscovery::x10Unit(m_context, d.code, d.name);
                wanted.merge(configs);
                if (!d.camera && houses.insert(d.code[0]).second)
                    wanted.merge(MqttDiscovery::house(m_context, d.code[0]));
            }
        }
        for (const auto& [topic, payload] : m_announced)
            if (!wanted.contains(topic)) m_client->publish(topic, "", true);
        for (const auto& [topic, payload] : wanted) {
            const auto it = m_announced.find(topic);
            if (it == m_announced.end() || it->second != payload)
                m_client->publish(topic, payload, true);
        }
        m_announced = std::move(wanted);
    });
}

void MqttLink::message(const std::string& topic, const std::string& payload, bool retained) {
    HeapTrim::soon();
    if (topic.size() > 7 && topic.compare(topic.size() - 7, 7, "/config") == 0 &&
        topic.compare(0, m_context.discoveryPrefix.size() + 1, m_context.discoveryPrefix + "/") ==
            0) {
        // An announcement of ours from an earlier run, for a device no longer
        // used (or with discovery now off): withdrawn.
        if (retained && !payload.empty() && !m_announced.contains(topic))
            m_client->publish(topic, "", true);
        return;
    }
    std::string why;
    const auto command = MqttTopics::parseSet(m_context.base, topic, payload, why);
    if (!command) {
        ignore(topic, why);
        return;
    }
    if (retained) {
        ignore(topic, "retained set message");
        return;
    }
    if (command->ninja) {
        if (m_hooks.cameraCommand)
            m_hooks.cameraCommand(MqttTopics::cameraIndex(command->code), command->command);
    } else if (m_hooks.x10Request) {
        m_hooks.x10Request(command->code, command->command, command->count);
    }
}

void MqttLink::ignore(const std::string& topic, const std::string& why) {
    if (m_loggingStopped || m_loggedTopics.contains(topic)) return;
    if (m_loggedTopics.size() >= kMaxLoggedTopics) {
        m_loggingStopped = true;
        LogError(kLog, "MQTT: further ignored messages are not logged");
        return;
    }
    m_loggedTopics.insert(topic);
    // The topic is a peer's text: one line of sensible length in the log.
    std::string shown = topic.substr(0, 200);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    LogError(kLog, "MQTT message on " + shown + " ignored: " + why);
}
