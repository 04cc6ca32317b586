// Feeds arbitrary MQTT messages to the reading of set topics: the input is a
// topic, a NUL, and a payload. Whatever is accepted must name a code the
// radio has and one of the words the gateway acts on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ScratchProgramFolder.h"
#include "mqtt/MqttTopics.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string topic = input.substr(0, nul);
    const std::string payload = nul == std::string::npos ? std::string() : input.substr(nul + 1);
    std::string why;
    const auto command = MqttTopics::parseSet("brindle/box", topic, payload, why);
    if (!command) {
        if (why.empty()) __builtin_trap();
        return 0;
    }
    const auto code =
        command->ninja ? MqttTopics::ninjaCode(command->code) : MqttTopics::x10Code(command->code);
    if (!code || *code != command->code) __builtin_trap();
    if (command->ninja && (MqttTopics::cameraIndex(command->code) < 1 ||
                           MqttTopics::cameraIndex(command->code) > 254))
        __builtin_trap();
    if (command->count.size() > 3) __builtin_trap();
    return 0;
}
