#pragma once
// A message held back by xapGlobal::SendXap until the transport is ready.

#include <string>

struct xapQueuedMessage {
    std::string MsgTarget;
    std::string MsgUID;
    std::string MsgClass;
    std::string MsgSection;
    std::string MsgData;
    std::string MsgSubAddress;
};
