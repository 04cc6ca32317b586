#include "mqtt/MqttDiscovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "base/Convert.h"

namespace {

QString text(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::string json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QJsonObject hubDevice(const MqttDiscovery::Context& c, const std::string& id,
                      const std::string& name, const char* model) {
    const std::string node = MqttDiscovery::nodeId(c.computer);
    return QJsonObject{{"identifiers", QJsonArray{text(node + "_" + id)}},
                       {"name", text(name)},
                       {"model", model},
                       {"sw_version", text(c.version)},
                       {"via_device", text(node)}};
}

// The gateway as a hub device: the one every unit's via_device names.
QJsonObject gatewayDevice(const MqttDiscovery::Context& c) {
    return QJsonObject{{"identifiers", QJsonArray{text(MqttDiscovery::nodeId(c.computer))}},
                       {"name", text("Brindle " + c.computer)},
                       {"model", "X10 CM19A xAP gateway"},
                       {"sw_version", text(c.version)}};
}

QJsonObject availability(const MqttDiscovery::Context& c) {
    return QJsonObject{{"availability_topic", text(c.base + "/status")},
                       {"payload_available", "online"},
                       {"payload_not_available", "offline"}};
}

QJsonObject trigger(const std::string& topic, const std::string& payload,
                    const std::string& subtype, const QJsonObject& device) {
    return QJsonObject{{"automation_type", "trigger"}, {"topic", text(topic)},
                       {"type", "button_short_press"}, {"subtype", text(subtype)},
                       {"payload", text(payload)},     {"device", device}};
}

}  // namespace

std::string MqttDiscovery::nodeId(const std::string& computer) {
    std::string id = "brindle_" + computer;
    for (char& c : id) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!plain) c = '_';
    }
    return id;
}

std::string MqttDiscovery::pattern(const Context& context) {
    return context.discoveryPrefix + "/+/" + nodeId(context.computer) + "/+/config";
}

std::map<std::string, std::string> MqttDiscovery::gateway(const Context& c) {
    const std::string node = nodeId(c.computer);
    // No availability of its own: offline is this entity's "off", not "unknown".
    const QJsonObject sensor{{"name", QJsonValue::Null},
                             {"unique_id", text(node + "_status")},
                             {"state_topic", text(c.base + "/status")},
                             {"payload_on", "online"},
                             {"payload_off", "offline"},
                             {"device_class", "connectivity"},
                             {"entity_category", "diagnostic"},
                             {"device", gatewayDevice(c)}};
    return {{c.discoveryPrefix + "/binary_sensor/" + node + "/status/config", json(sensor)}};
}

std::map<std::string, std::string> MqttDiscovery::house(const Context& c, char house) {
    const std::string node = nodeId(c.computer);
    const std::string letter(1, house);
    const std::string topic = c.base + "/x10/" + letter + "/event";
    std::map<std::string, std::string> out;
    for (const char* command : {"all_units_off", "all_lights_on", "all_lights_off"}) {
        std::string subtype = letter + " " + command;
        std::replace(subtype.begin(), subtype.end(), '_', ' ');
        out[c.discoveryPrefix + "/device_automation/" + node + "/house_" + vb::LCase(letter) + "_" +
            command + "/config"] = json(trigger(topic, command, subtype, gatewayDevice(c)));
    }
    return out;
}

std::map<std::string, std::string> MqttDiscovery::x10Unit(const Context& c, const std::string& code,
                                                          const std::string& name) {
    const std::string id = "x10_" + vb::LCase(code);
    const std::string node = nodeId(c.computer);
    const std::string shown = name.empty() ? "X10 " + code : name;
    const QJsonObject device = hubDevice(c, id, shown, "X10 unit");
    const std::string topics = c.base + "/x10/" + code;

    QJsonObject light = availability(c);
    light.insert("name", QJsonValue::Null);  // the entity is the device itself
    light.insert("unique_id", text(node + "_" + id));
    light.insert("command_topic", text(topics + "/set"));
    light.insert("state_topic", text(topics + "/state"));
    light.insert("payload_on", "on");
    light.insert("payload_off", "off");
    light.insert("state_value_template", "{{ value | lower }}");
    light.insert("device", device);

    std::map<std::string, std::string> out;
    out[c.discoveryPrefix + "/light/" + node + "/" + id + "/config"] = json(light);
    for (const char* press : {"on", "off"}) {
        out[c.discoveryPrefix + "/device_automation/" + node + "/" + id + "_" + press + "/config"] =
            json(trigger(topics + "/event", press, std::string("turn_") + press, device));
    }
    return out;
}

std::map<std::string, std::string> MqttDiscovery::camera(const Context& c, const std::string& code,
                                                         const std::string& name) {
    const std::string id = "ninja_" + vb::LCase(code);
    const std::string node = nodeId(c.computer);
    const QJsonObject device =
        hubDevice(c, id, name.empty() ? "Ninja " + code : name, "X10 pan/tilt camera");
    std::map<std::string, std::string> out;
    for (const char* move : {"up", "down", "left", "right", "center"}) {
        out[c.discoveryPrefix + "/device_automation/" + node + "/" + id + "_" + move + "/config"] =
            json(trigger(c.base + "/ninja/" + code + "/event", move, move, device));
    }
    return out;
}
