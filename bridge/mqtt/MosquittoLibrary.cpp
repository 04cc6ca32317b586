#include "mqtt/MosquittoLibrary.h"

#include <type_traits>

#include "binding/SharedLibrary.h"

namespace {

// The run-time name of the library the build was made against (its soname,
// which Debian's libmosquitto1 package provides).
constexpr const char* kLibraryName = "libmosquitto.so.1";

}  // namespace

bool MosquittoLibrary::resolve(void* handle, std::string& error) {
    bool complete = true;
    const auto find = [&](auto& entry, const char* name) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(
            SharedLibrary::entry(handle, name));
        if (entry == nullptr && complete) {
            complete = false;
            error = std::string(kLibraryName) + " has no " + name;
        }
    };
    find(lib_init, "mosquitto_lib_init");
    find(strerror, "mosquitto_strerror");
    find(connack_string, "mosquitto_connack_string");
    find(create, "mosquitto_new");
    find(destroy, "mosquitto_destroy");
    find(int_option, "mosquitto_int_option");
    find(connect_callback_set, "mosquitto_connect_callback_set");
    find(disconnect_callback_set, "mosquitto_disconnect_callback_set");
    find(message_callback_set, "mosquitto_message_callback_set");
    find(username_pw_set, "mosquitto_username_pw_set");
    find(will_set, "mosquitto_will_set");
    find(tls_set, "mosquitto_tls_set");
    find(connect_bind_v5, "mosquitto_connect_bind_v5");
    find(property_add_int32, "mosquitto_property_add_int32");
    find(property_free_all, "mosquitto_property_free_all");
    find(reason_string, "mosquitto_reason_string");
    find(disconnect, "mosquitto_disconnect");
    find(loop_read, "mosquitto_loop_read");
    find(loop_write, "mosquitto_loop_write");
    find(loop_misc, "mosquitto_loop_misc");
    find(socket, "mosquitto_socket");
    find(want_write, "mosquitto_want_write");
    find(publish, "mosquitto_publish");
    find(subscribe, "mosquitto_subscribe");
    return complete;
}

const MosquittoLibrary* MosquittoLibrary::load() {
    static MosquittoLibrary library;
    static const bool ready = [] {
        // Local: its names must not stand in for anyone else's.
        void* handle = SharedLibrary::load(kLibraryName, SharedLibrary::Scope::Local, failure());
        if (handle == nullptr) return false;
        if (!library.resolve(handle, failure())) return false;
        // The library's global set-up, once per process; never undone, as
        // other clients (tests run several) may still be alive at exit.
        library.lib_init();
        return true;
    }();
    return ready ? &library : nullptr;
}

const std::string& MosquittoLibrary::error() {
    load();
    return failure();
}

std::string& MosquittoLibrary::failure() {
    static std::string text;
    return text;
}
