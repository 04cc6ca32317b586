#include "base/MessageFilter.h"

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <string>

#include "base/ProcessState.h"
#include "base/RepeatedLineFilter.h"

namespace {

RepeatedLineFilter& filter() {
    static RepeatedLineFilter f;
    return f;
}

double secondsSinceStart() {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<double>(timer.elapsed()) / 1000.0;
}

void writeLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

// Forgetting the tracked lines writes their summaries first, so no count is lost.
const bool kFilterReset = ProcessState::registerReset("MessageFilter", [] {
    for (const std::string& line : filter().flush()) writeLine(line);
});

// Under systemd the journal reads a syslog priority from "<N>" at the start of
// each line; elsewhere a word says how serious the line is.
std::string levelPrefix(QtMsgType type) {
    static const bool journal = qEnvironmentVariableIsSet("JOURNAL_STREAM");
    switch (type) {
        case QtDebugMsg:
            return journal ? "<7>" : "debug: ";
        case QtInfoMsg:
            return journal ? "<6>" : "info: ";
        case QtWarningMsg:
            return journal ? "<4>" : "warning: ";
        case QtCriticalMsg:
            return journal ? "<3>" : "error: ";
        case QtFatalMsg:
            return journal ? "<2>" : "fatal: ";
    }
    return {};
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    QString text = qFormatLogMessage(type, context, message);
    // One line each, whatever the message held.
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const std::string line = levelPrefix(type) + text.toStdString();
    for (const std::string& out : filter().take(line, secondsSinceStart())) writeLine(out);
    if (type == QtFatalMsg) std::abort();
}

}  // namespace

void MessageFilter::install() {
    qInstallMessageHandler(handle);
}

void MessageFilter::flush() {
    for (const std::string& summary : filter().flush()) writeLine(summary);
}
