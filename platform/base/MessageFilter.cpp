#include "base/MessageFilter.h"

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <string>

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

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const std::string line = qFormatLogMessage(type, context, message).toStdString();
    for (const std::string& out : filter().take(line, secondsSinceStart())) writeLine(out);
    if (type == QtFatalMsg) std::abort();
}

}  // namespace

void MessageFilter::install() {
    qInstallMessageHandler(handle);
}

void MessageFilter::flush() {
    const std::string summary = filter().flush();
    if (!summary.empty()) writeLine(summary);
}
