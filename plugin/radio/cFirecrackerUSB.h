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
//
// The device never holds up the one thread. Sends queue their frames on the
// device (see UsbPort) and return: true once the frames are queued, false when
// the device is absent, lost on the spot, or has so many frames waiting that
// these are dropped. A queued frame that later fails to go out is handled as a
// failed write is: Disconnected, one reopen, and the frames written after the
// initialisation frame. Reading never stops while the device is connected: a
// read that brings nothing is armed again after a short pause, and reads that
// keep failing reopen the device with a growing pause. An arrival notice whose
// open is refused is tried again a few times. Trouble of this kind goes, one
// line per outage and one when it ends, to the ActiveTransceiver's `trouble`
// handler, for the host log.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "binding/Dispatch.h"
#include "radio/eX10CMD.h"
#include "usb/UsbPort.h"

class cFirecrackerUSB : public Dispatch {
public:
    using Bytes = std::vector<std::uint8_t>;

    struct Events {
        std::function<void()> Connected;
        std::function<void()> Disconnected;
        std::function<void(const std::string& housecode, int32_t devicecode, eX10CMD command)>
            Received;
        std::function<void(const Bytes& Bin)> ReceivedUnknown;
        std::function<void(const std::string& text)> trouble;
    };

    // The pauses and counts of the recovery above, library-wide; tests shorten them.
    struct Recovery {
        int readRetryMs = 100;     // before arming again after a read that brought nothing
        int readRetries = 3;       // such re-arms in a row before the device is reopened
        int healthyReadMs = 1000;  // a read outstanding this long ends a run of failures
        int firstReopenMs = 500;   // the pause before a reopen doubles up to maxReopenMs
        int maxReopenMs = 30000;   // while reads keep failing
        int arrivalRetries = 5;    // opens tried again after a refused one on arrival
        int arrivalRetryMs = 200;
    };
    static Recovery& recovery();

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

    // Queues the frame of the current properties to be written lngRepeats
    // times (and for at least lngDuration ms, counted from this call); reopens
    // once for each failed write. False when the frame could not be queued.
    // Virtual so tests of the plug-in can record sends without a device.
    virtual bool SendCmd(int32_t lngDuration = 0, int32_t lngRepeats = 3);
    // Queues the bytes to be written once, unchanged; no reopen when that fails at once.
    virtual bool SendRaw(const Bytes& Bin);
    bool Connected() const { return m_connected; }
    // Why the last Connect could not open the device (for one log line); empty
    // after a successful open.
    const std::string& lastConnectError() const { return m_lastConnectError; }

    Events events;

    // Device access; public so the library's notices and the tests can drive it.
    // Connect is true when the device opened.
    bool Connect(bool quiet);
    // Lets go of the pipes without an event and opens them again quietly, so
    // a device whose reads keep failing gets a fresh connection unless another
    // object still holds it. True when it opened.
    bool Reopen();
    void SetConnected(bool value);
    bool EnsureConnected();
    // Decodes one completed read and raises Received or ReceivedUnknown.
    void DecodeFrame(const Bytes& bytes);

    static cFirecrackerUSB* ActiveTransceiver();

protected:
    const MemberTable& members() const override;

private:
    // SendCmd's and SendRaw's common part; `retry` reopens after a failed write.
    bool queueWrite(UsbPort::WriteJob& job, bool retry);
    void writesFailed(std::vector<UsbPort::WriteJob> jobs, const std::string& error);
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
