#pragma once
// Every xAP text the main window takes from the transport's queue ends here.
// The dispatcher accepts messages addressed to the gateway (wildcards allowed)
// or to nobody, and acts on six classes: BSC queries and commands for the
// pan/tilt cameras, X10 requests (through the host's ExecX10), echo and role
// queries (answered), and the daily sun times (stored).
//
// What one message may cost is bounded: at most kMaxBlocks BSC blocks and
// kMaxDeviceCodes X10 device codes are acted on, and at most kMaxFrames radio
// frames sent; the rest is ignored with one error-log line per message.
//
// Answers never carry the query that caused them, so the gateway hearing its
// own answers (the hub relays them back) does not answer again. A fault inside
// one message is reported as "Readmessage " and the next message is handled
// normally.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gateway/NinjaCamera.h"

class Application;
class DeviceClass;
class Dispatch;
class X10Reporter;
class XapMessage;

class CommandDispatcher {
public:
    // The host whose devices it drives and reads, the reporter of camera
    // states (may be null) and the main window's activity blink (may be
    // empty). The transceiver comes later, once the plug-in exists.
    CommandDispatcher(std::shared_ptr<Application> host, X10Reporter* reporter,
                      std::function<void()> swapIcons);
    // The transceiver commands are sent with; null until the plug-in is bound
    // and again when it is unloaded.
    void bindTransceiver(std::shared_ptr<Dispatch> transceiver);

    static constexpr int kMaxBlocks = 256;
    static constexpr int kMaxDeviceCodes = 256;
    static constexpr int kMaxFrames = 1024;

    void Readmessage(const std::string& text);

    // Drives the transceiver for a camera ("Q" + index) with a command word,
    // updates the host device and sends the camera's BSC event.
    void SendNinjaCommand(const std::string& sCode, const std::string& sCmd);
    // Drives the transceiver once for an X10 address (A1 ... P16), updates the
    // host device and sends an X10 event.
    void SendCM19A(const std::string& sDevice, const std::string& sCommand,
                   const std::string& sCount);

    // What an "xAP-X10.request" asks: `devices` a comma list of codes,
    // `command` "on", "off", "dim" or "bright" in any case, `count` the dim or
    // bright amount (any text; a number is read from its start). Also the
    // entry point of requests that arrive by other routes, each bounded as one
    // message is.
    void X10Request(const std::string& devices, const std::string& command,
                    const std::string& count, const std::string& source);
    // What a unit's set message on the MQTT link asks: "on" and "off" as an
    // X10 request for the one code; "dim" and "bright" address the unit with
    // its On frame, then send `count` dim or bright frames (1 when empty,
    // clamped to 1 ... kMaxDimSteps), since those frames carry no unit.
    void UnitRequest(const std::string& code, const std::string& command,
                     const std::string& count);
    static constexpr int kMaxDimSteps = 22;
    // What an "xAPBSC.cmd" for one camera (1 to 254) asks, with a command
    // word: nothing unless the camera is in use.
    void CameraCommand(int camera, const std::string& word);

    // How many texts reached the dispatcher; for the program's own diagnostics.
    unsigned long received() const { return m_received; }

private:
    void bscCommand(XapMessage& msg);
    // The cameras in use when the BSC command being handled arrived.
    using UsedCameras = std::vector<std::pair<int, std::shared_ptr<DeviceClass>>>;
    void applyBscCommand(const UsedCameras& cameras, const NinjaCamera::Pattern& pattern,
                         const std::string& id, int level);
    void x10Request(XapMessage& msg);
    // One message's budget of blocks, codes and frames, from here to the end
    // of the scope.
    struct MessageScope {
        explicit MessageScope(CommandDispatcher& d);
        ~MessageScope();
        CommandDispatcher& dispatcher;
        bool outer;
    };
    void echo(XapMessage& msg);
    void timeToday(XapMessage& msg);
    void role(XapMessage& msg);
    void blink();
    // Sets the transceiver's address and command and sends, `times` times.
    void transmit(const std::string& house, int unit, int command, int times);
    // The same, as one send of `frames` repeated frames.
    void transmitFrames(const std::string& house, int unit, int command, int frames);

    // Radio frames the message being handled may still cause; reset for each
    // message and for each direct call from outside.
    bool spendFrame();
    void cut(const std::string& what);

    std::shared_ptr<Application> m_host;
    std::shared_ptr<Dispatch> m_transceiver;
    X10Reporter* m_reporter = nullptr;
    std::function<void()> m_swapIcons;
    unsigned long m_received = 0;
    int m_framesLeft = kMaxFrames;
    bool m_inMessage = false;
    bool m_cutLogged = false;
};
