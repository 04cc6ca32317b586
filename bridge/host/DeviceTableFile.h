#pragma once
// The saved form of the device table: section "PluginDevices" of
// qixBrindle.ini, one line per record, keyed by the upper-cased code (a later
// record of the same code wins). Both members are the host window's; each
// skips only a record that fails, logging "SaveDevices " / "InitDevices " and
// its code.
//
// The line is location;name;interface;iotype;iomisc;misc;dev_type_string;
// status;value;last change ("yyyy-MM-dd HH:mm:ss");string. Fields are made
// safe to store, so no record can disturb another: a ";" in the first ten
// fields is saved as ","; a line break or NUL in any field as a space; the
// string, being last, keeps its ";" and is read back whole. A record whose key
// could not be read back as itself (an "=", a double quote, a line break or
// NUL, a leading ";" or blank, fewer than 2 or more than 65 characters) is not
// saved but logged. A line keyed "[..." loses the closing "]" of its string,
// which would make it a section header. Double quotes do not come back
// (InitDevices drops them), nor blanks at the end of the string (the INI
// reader trims lines).

#include "host/DeviceTable.h"
#include "host/IniCache.h"

class DeviceTableFile {
public:
    // Replaces the section with one line per record, in the cache; the next
    // FlushIniCache takes it to disk.
    static void SaveDevices(const DeviceTable& table, IniCache& ini);
    // Restores the saved records in the order the section lists them, then adds
    // the default devices that are missing: Q1..T63 named A1..P15, then A1..P16.
    // True when the saved section was not empty. Meant to run once, while the
    // host is loading, so that the restored states notify nobody.
    static bool InitDevices(DeviceTable& table, IniCache& ini);
};
