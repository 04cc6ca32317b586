#pragma once
// An MQTT client for tests, on libmosquitto with its own network thread, so
// the test thread stays free to run the gateway's event loop while waiting.
// It records every message on the topics it subscribes to.

#include <mosquitto.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "support/RunEvents.h"

class MqttTestClient {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool retained = false;
    };

    explicit MqttTestClient(int port, const std::string& id = "tester") {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(id.c_str(), true, this);
        mosquitto_message_callback_set(
            m_mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* c = static_cast<MqttTestClient*>(self);
                std::lock_guard lock(c->m_mutex);
                c->m_messages.push_back({m->topic,
                                         std::string(static_cast<const char*>(m->payload),
                                                     static_cast<size_t>(m->payloadlen)),
                                         m->retain});
            });
        mosquitto_connect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
            auto* c = static_cast<MqttTestClient*>(self);
            std::lock_guard lock(c->m_mutex);
            c->m_connected = rc == 0;
        });
        mosquitto_connect(m_mosq, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_mosq);
        runUntil(
            [&] {
                std::lock_guard lock(m_mutex);
                return m_connected;
            },
            5000);
    }
    ~MqttTestClient() {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, true);
        mosquitto_destroy(m_mosq);
    }

    void subscribe(const std::string& pattern) {
        mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), 1);
    }
    void publish(const std::string& topic, const std::string& payload, bool retain = false) {
        mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, retain);
    }

    std::vector<Message> messages() {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_messages.clear();
    }
    size_t count(const std::string& topic, const std::string& payload) {
        std::lock_guard lock(m_mutex);
        return static_cast<size_t>(std::count_if(
            m_messages.begin(), m_messages.end(),
            [&](const Message& m) { return m.topic == topic && m.payload == payload; }));
    }
    // Waits (running the caller's events) for a message with this topic and
    // payload; true when it came.
    bool waitFor(const std::string& topic, const std::string& payload, int ms = 5000) {
        return runUntil([&] { return count(topic, payload) > 0; }, ms);
    }

private:
    mosquitto* m_mosq = nullptr;
    std::mutex m_mutex;
    std::vector<Message> m_messages;
    bool m_connected = false;
};
