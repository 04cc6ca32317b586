#pragma once
// The host's devices: the device list (DeviceClass records, positions counted
// from 1) and the state tables that hold, for every device code, the current
// status, value, string, time of last change and a time counter, whether or
// not a record exists for the code.
//
// Cells. A code selects one cell: the row is the leading number after the
// first character, rounded (outside 0 to 99 it is row 0; beyond the 16-bit
// range the member fails); the column is the first character, lower-case
// letters sharing the column of their capital, every character outside "!" to
// "~" sharing one column. So A1, a1 and A01 are one cell, and so are A0, A100
// and A-5. An empty code fails. Cells start at 0, "" and the zero date.
//
// Records. Codes are hc + dc, compared ignoring case; names are location, a
// space and name, compared ignoring case; the first record in list order
// wins. References come from a counter that starts at 0 each run, so they are
// only stable within one run.
//
// Notifications go out through the EventCallbacks given at construction,
// synchronously and before the new value is stored (a listener reading the
// cell sees the old value), and never while the host is loading. A listener
// may call back in: the cells never move, so nested calls are safe.
//
// Failures. Each member below is a host member that plug-ins call by name; it
// catches its own faults, writes them to the event log ("brindlehub", the
// member's name and a space) and returns what it had: 0, "", false, the zero
// date, nothing, or -1 for the position and reference lookups.
//
// Persistence: DeviceTableFile saves and restores the records and their cells.
//
// One thread, no locks.

#include <QDateTime>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/Variant.h"
#include "host/DeviceClass.h"
#include "host/EventCallbacks.h"

class DeviceTable {
public:
    explicit DeviceTable(EventCallbacks& callbacks);

    // --- the device list ---
    // Appends a record with the next reference, this name and the code A1 (for
    // the creator to change); the result is its position, the new count.
    int16_t NewDevice(const std::string& name);
    // NewDevice, then the record at the position it returned, or nothing.
    std::shared_ptr<DeviceClass> NewDeviceEx(const std::string& name);
    // Removes the first record with this reference; its cells stay. Always false.
    bool DeleteDevice(int32_t ref);
    int16_t DeviceCount() const;
    // The write side of DeviceCount: the count follows the records, so ignored.
    void setDeviceCount(int16_t) {}
    // Position of the first record with this code, or -1.
    int16_t DeviceExists(const std::string& device) const;
    // The record at index (1 to the count), or nothing.
    std::shared_ptr<DeviceClass> GetDevice(int16_t index) const;
    std::shared_ptr<DeviceClass> GetDeviceByRef(int32_t ref) const;
    std::shared_ptr<DeviceClass> GetDeviceByCode(const std::string& device) const;
    // The first record whose location + " " + name equals deviceName.
    std::shared_ptr<DeviceClass> GetDeviceEx(const std::string& deviceName) const;
    // hc + dc of GetDeviceEx(name), or "".
    std::string GetDeviceCode(const std::string& name) const;
    int32_t GetDeviceRef(const std::string& sAddress) const;
    int32_t GetDeviceRefByName(const std::string& deviceName) const;
    // The records in list order as an array of objects (element 0 is position
    // 1). The records are shared, so changing one through the array changes the
    // list's record; adding to or removing from the list later does not change
    // an array already handed out.
    std::vector<Variant> GetDeviceList() const;

    // --- reading cells ---
    int16_t DeviceStatus(const std::string& dev) const;
    int32_t DeviceValue(const std::string& dev) const;
    std::string DeviceString(const std::string& dev) const;
    QDateTime DeviceLastChange(const std::string& dev) const;
    int32_t DeviceTime(const std::string& dev) const;
    // The same after GetDeviceCode(name); an unknown name reads the empty code,
    // which fails and is logged by the member reading the cell.
    std::string DeviceStringByName(const std::string& name) const;
    int32_t DeviceTimeByName(const std::string& name) const;
    int32_t DeviceValueByName(const std::string& name) const;
    // Status 2 is on, 3 is off.
    bool isOn(const std::string& device) const;
    bool isOff(const std::string& device) const;
    bool isOnByName(const std::string& deviceName) const;
    bool isOffByName(const std::string& deviceName) const;

    // --- changing cells ---
    // A status that differs from the cell runs the status-change script
    // callbacks (when a record has this code) and notifies list 2 with "4",
    // unit, house code, status; then it is stored. An equal status does nothing.
    // A failing script is logged under this member's name; the change goes on.
    void SetDeviceStatus(const std::string& dev, int16_t Status);
    // As SetDeviceStatus, without the list-2 notice when iReport has bit 2 set.
    void SetDeviceStatusNoReport(const std::string& dev, int16_t Status, int16_t iReport);
    // A differing value notifies list 2 with "4", unit, house code, value.
    void SetDeviceValue(const std::string& dev, int32_t Value);
    // Stores the value; never notifies, whatever iReport holds.
    void SetDeviceValueNoReport(const std::string& dev, int32_t Value, int16_t iReport);
    // A differing string notifies list 6 with "64", dev as given, str. Reset is
    // accepted and ignored.
    void SetDeviceString(const std::string& dev, const std::string& str, bool Reset = false);
    void SetDeviceLastChange(const std::string& dev, const QDateTime& lastChange);
    void SetDeviceTime(const std::string& dev, int32_t time);
    void SetDeviceStringByName(const std::string& name, const std::string& str);
    void SetDeviceValueByName(const std::string& name, int32_t Value);

    // The records, for the program's own use.
    const std::vector<std::shared_ptr<DeviceClass>>& devices() const { return m_devices; }
    // The first record with this code (ignoring case), or null; nothing logged.
    // Through the table's code index, so a page of rows costs no scan per row.
    const DeviceClass* findByCode(std::string_view code) const;

    // The cell of a code, for the program's own use; raises for an empty code
    // or a row beyond 16 bits, where the members log and return.
    struct Cell {
        int16_t status = 0;
        int32_t value = 0;
        int32_t time = 0;
        std::string text;
        QDateTime lastChange;
    };
    const Cell& cell(std::string_view code) const;

private:
    Cell& cell(std::string_view code);
    static const Cell& blankCell();
    size_t cellIndex(std::string_view code) const;

    // Lookups without logging: the index in m_devices, or -1. By code through
    // m_codeIndex, rebuilt when a record was added or removed or any record's
    // code changed since it was built.
    std::ptrdiff_t indexOfCode(std::string_view code) const;
    void rebuildCodeIndex() const;
    std::ptrdiff_t indexOfName(std::string_view deviceName) const;

    void changeStatus(const std::string& dev, int16_t status, bool report, const char* member);

    EventCallbacks& m_callbacks;
    std::vector<std::shared_ptr<DeviceClass>> m_devices;
    // Lower-cased code to the first index with that code.
    mutable std::unordered_map<std::string, size_t> m_codeIndex;
    mutable bool m_codeIndexValid = false;
    mutable std::uint64_t m_codeIndexGeneration = 0;
    int32_t m_lastRef = 0;
    // One block of 100 rows per house column, made on the column's first write;
    // reading an unwritten cell gives the blank one. A block never moves or
    // goes away, so references stay valid, and a gateway that uses a few
    // houses holds a few blocks rather than all 6,900 cells.
    std::vector<std::unique_ptr<Cell[]>> m_columns;
};
