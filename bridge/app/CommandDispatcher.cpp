#include "CommandDispatcher.h"

#include <QLoggingCategory>

#include "XapLog.h"
#include "XapMessage.h"

Q_LOGGING_CATEGORY(lcReadmessage, "brindle.xap.dispatch", QtWarningMsg)

void CommandDispatcher::Readmessage(const std::string& text) {
    ++m_received;
    try {
        XapMessage msg;
        msg.Init("");
        msg.Reset();
        msg.FromXap(text);
        qCDebug(lcReadmessage, "Readmessage class=%s source=%s target=%s", msg.MsgClass.c_str(),
                msg.msgSource.c_str(), msg.MsgTarget.c_str());
    } catch (...) {
        LogFault("Readmessage ");
    }
}
