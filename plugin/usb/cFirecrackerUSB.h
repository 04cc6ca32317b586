#pragma once
// The CM19A transceiver object: the transmit properties (housecode,
// devicecode, command), the sends, the device's pipes and the connection
// state, and the events of what the device hears.
//
// Library-wide there is one ActiveTransceiver: the object created last. Read
// completions, decoding, events and device notices act on it alone, while
// every object writes through its own write pipe. Absent devices are not
// errors: Connect leaves the flag false and the sends return false.
//
// Events go to the handlers in `events`, set by the object's owner (the
// plug-in interface); they are raised only on the ActiveTransceiver.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "binding/Dispatch.h"
#include "usb/eX10CMD.h"

class UsbPort;

class cFirecrackerUSB : public Dispatch {
public:
    using Bytes = std::vector<std::uint8_t>;

    struct Events {
        std::function<void()> Connected;
        std::function<void()> Disconnected;
        std::function<void(const std::string& housecode, int32_t devicecode, eX10CMD command)>
            Received;
        std::function<void(const Bytes& Bin)> ReceivedUnknown;
    };

    // Becomes the ActiveTransceiver, sets A / 1 / cON and tries to open the device.
    cFirecrackerUSB();
    // Closes this object's pipes; raises no event.
    ~cFirecrackerUSB() override;

    std::string className() const override { return "cFirecrackerUSB"; }

    // Transmit state. The setters raise error 1 (house code outside A to P) or
    // 2 (device code outside 1 to 16) and keep the old value.
    const std::string& housecode() const { return m_housecode; }
    void setHousecode(const std::string& value);
    int32_t devicecode() const { return m_devicecode; }
    void setDevicecode(int32_t value);
    int32_t command() const { return m_command; }
    void setCommand(int32_t value) { m_command = value; }

    // Writes the frame of the current properties lngRepeats times (or for
    // lngDuration ms); reopens once when a write fails. False when nothing
    // could be sent.
    // Virtual so tests of the plug-in can record sends without a device.
    virtual bool SendCmd(int32_t lngDuration = 0, int32_t lngRepeats = 3);
    // Writes the bytes once, unchanged.
    virtual bool SendRaw(const Bytes& Bin);
    bool Connected() const { return m_connected; }
    // Why the last Connect could not open the device (for one log line); empty
    // after a successful open.
    const std::string& lastConnectError() const { return m_lastConnectError; }

    Events events;

    // Device access; public so the library's notices and the tests can drive it.
    void Connect(bool quiet);
    void SetConnected(bool value);
    bool EnsureConnected();
    // Decodes one completed read and raises Received or ReceivedUnknown.
    void DecodeFrame(const Bytes& bytes);

    static cFirecrackerUSB* ActiveTransceiver();

protected:
    const MemberTable& members() const override;

private:
    bool isActive() const;
    void raiseConnected();
    void raiseDisconnected();

    std::string m_housecode = "A";
    int32_t m_devicecode = 1;
    int32_t m_command = cON;
    bool m_connected = false;
    std::unique_ptr<UsbPort> m_write;
    std::string m_lastConnectError;
};
