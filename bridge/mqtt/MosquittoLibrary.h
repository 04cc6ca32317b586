#pragma once
// libmosquitto, loaded when the first MQTT client is made rather than linked:
// a gateway without a broker never maps it, nor the TLS and Kerberos
// libraries that come with it. The entry points the client uses are looked up
// once and keep the library's own signatures, so a call through them is
// checked by the compiler as a direct call would be.
//
// load() tries once per process; the library is never unloaded. Without it,
// load() gives null and error() says why, and the client reports that as a
// set-up failure, as for settings the library refuses.

#include <mosquitto.h>

#include <string>

class MosquittoLibrary {
public:
    // The loaded library, or null when it cannot be loaded.
    static const MosquittoLibrary* load();
    static const std::string& error();

    decltype(&::mosquitto_lib_init) lib_init = nullptr;
    decltype(&::mosquitto_strerror) strerror = nullptr;
    decltype(&::mosquitto_connack_string) connack_string = nullptr;
    decltype(&::mosquitto_new) create = nullptr;
    decltype(&::mosquitto_destroy) destroy = nullptr;
    decltype(&::mosquitto_int_option) int_option = nullptr;
    decltype(&::mosquitto_connect_callback_set) connect_callback_set = nullptr;
    decltype(&::mosquitto_disconnect_callback_set) disconnect_callback_set = nullptr;
    decltype(&::mosquitto_message_callback_set) message_callback_set = nullptr;
    decltype(&::mosquitto_username_pw_set) username_pw_set = nullptr;
    decltype(&::mosquitto_will_set) will_set = nullptr;
    decltype(&::mosquitto_tls_set) tls_set = nullptr;
    decltype(&::mosquitto_connect_bind_v5) connect_bind_v5 = nullptr;
    decltype(&::mosquitto_property_add_int32) property_add_int32 = nullptr;
    decltype(&::mosquitto_property_free_all) property_free_all = nullptr;
    decltype(&::mosquitto_reason_string) reason_string = nullptr;
    decltype(&::mosquitto_disconnect) disconnect = nullptr;
    decltype(&::mosquitto_loop_read) loop_read = nullptr;
    decltype(&::mosquitto_loop_write) loop_write = nullptr;
    decltype(&::mosquitto_loop_misc) loop_misc = nullptr;
    decltype(&::mosquitto_socket) socket = nullptr;
    decltype(&::mosquitto_want_write) want_write = nullptr;
    decltype(&::mosquitto_publish) publish = nullptr;
    decltype(&::mosquitto_subscribe) subscribe = nullptr;

private:
    MosquittoLibrary() = default;
    // Fills every entry point; false, with the error set, when one is missing.
    bool resolve(void* handle, std::string& error);
    static std::string& failure();
};
