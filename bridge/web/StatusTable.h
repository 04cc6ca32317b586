#pragma once
// The status page's table of devices: one row per listed Ninja channel or X10
// address, sortable by a field name optionally followed by "ASC" or "DESC", and
// filterable to the rows marked used. The table of the last page built is kept,
// because the next "Save Changes" is applied to its rows.

#include <QDateTime>
#include <cstdint>
#include <string>
#include <vector>

struct StatusRow {
    std::string DC;    // the row's code: "Q" + channel number, or the X10 address
    std::string HSDC;  // the device code in the host's device table
    std::string Name;
    QDateTime Changed;
    bool Used = false;
    std::string DCSort;     // " 000" to " 254" for channels, "A001" to "P016" for X10
    std::string DCDisplay;  // "Ninja A1", "X10 A1"
    int32_t Buttons = 3;
};

class StatusTable {
public:
    void AddRow(StatusRow row) { m_rows.push_back(std::move(row)); }
    // "DCSort", "Name DESC", ...: fields compare ignoring case, equal rows keep
    // their order. An unknown field or direction raises error 3001 and leaves
    // the order as it was.
    void Sort(const std::string& sortText);
    void setFilterUsed(bool on) { m_filterUsed = on; }
    // The rows that pass the filter, in sort order.
    std::vector<const StatusRow*> rows() const;
    size_t size() const { return m_rows.size(); }

private:
    std::vector<StatusRow> m_rows;
    bool m_filterUsed = false;
};
