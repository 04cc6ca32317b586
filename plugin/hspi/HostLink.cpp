#include "hspi/HostLink.h"

#include <exception>

#include "base/ProcessState.h"
#include "base/RuntimeError.h"

void HostLink::registerCallback(std::shared_ptr<Dispatch> frm) {
    if (!frm)
        raiseError(RuntimeError::kObjectRequired, "Object variable or With block variable not set");
    std::shared_ptr<Dispatch> host = frm->call("GetHSIface").toObject();
    s_callback = std::move(frm);
    s_hs = std::move(host);
}

void HostLink::release() {
    s_callback.reset();
    s_hs.reset();
    s_caught.clear();
}

std::optional<Variant> HostLink::call(const std::shared_ptr<Dispatch>& target,
                                      std::string_view name, std::vector<Variant>& args) {
    // Held for the call: the member may let events run that drop the reference.
    const std::shared_ptr<Dispatch> object = target;
    if (!object) return std::nullopt;
    try {
        return object->Invoke(name, args);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<Variant> HostLink::callHs(std::string_view name, std::vector<Variant>& args) {
    return call(s_hs, name, args);
}

std::optional<Variant> HostLink::callCallback(std::string_view name, std::vector<Variant>& args) {
    return call(s_callback, name, args);
}

void HostLink::WriteLog(const std::string& type, const std::string& message) {
    hsCall("WriteLog", type, message);
}

void HostLink::logCaught(std::string_view doing, const std::exception& fault) {
    // Distinct faults are few; a bound keeps one with a changing text from
    // growing the list for ever.
    constexpr std::size_t kMaxKinds = 64;
    const auto* runtime = dynamic_cast<const RuntimeError*>(&fault);
    const std::string text = std::string(doing) + " failed: " +
                             (runtime != nullptr ? runtime->description() : fault.what());
    if (s_caught.size() >= kMaxKinds || !s_caught.insert(text).second) return;
    WriteLog(kTitle, text);
}

namespace {
const bool kHostLinkReset = ProcessState::registerReset("HostLink", [] { HostLink::release(); });
}  // namespace
