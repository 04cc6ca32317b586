#include "web/WebDates.h"

namespace WebDates {

namespace {
std::string text(const QString& s) {
    return s.toLatin1().toStdString();
}
}  // namespace

std::string mediumDate(const QDate& d) {
    return text(d.toString(QStringLiteral("dd-MMM-yy")));
}

std::string longTime(const QTime& t) {
    return text(t.toString(QStringLiteral("h:mm:ss AP")));
}

std::string generalDate(const QDateTime& t) {
    std::string s = text(t.date().toString(QStringLiteral("M/d/yyyy")));
    if (t.time() != QTime(0, 0)) s += " " + longTime(t.time());
    return s;
}

}  // namespace WebDates
