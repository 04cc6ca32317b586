#pragma once
// The date and time texts of the web pages and answers, in the usual English
// setting and independent of the machine's locale.

#include <QDateTime>
#include <string>

namespace WebDates {

// The medium date: "05-Dec-26".
std::string mediumDate(const QDate& d);
// The general date: "12/5/2026 3:04:05 PM", the date alone at midnight.
std::string generalDate(const QDateTime& t);
// The long time: "3:04:05 PM".
std::string longTime(const QTime& t);

}  // namespace WebDates
