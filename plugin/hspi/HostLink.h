#pragma once
// The plug-in's side of the host interface: the library-wide references that
// RegisterCallback sets (the callback object and the host object "hs"), the
// mode flag set, and the calls the plug-in makes on them.
//
// One set per loaded library, shared by every hspi object. The two references
// are dropped when the last hspi object goes (hspi counts its objects), so the
// plug-in never keeps the host alive on its own; the mode stays as it is.
//
// The calls never raise. A reference that is not set, a member the host does
// not have (438) or a fault inside the host's member ends that one call, which
// answers nothing, and the caller goes on with its next step. The receive
// pipeline depends on this: a fault while reporting one radio frame must
// neither end the program nor cut short the rest of that frame's work.
// Arguments travel by reference, as the host expects (callHs, callCallback);
// callers that do not read them back use hsCall and callbackCall.

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/Dispatch.h"
#include "binding/Variant.h"

class HostLink {
public:
    // The log type of the plug-in's own messages: the library's application title.
    static constexpr const char* kTitle = "Quillon";
    // The name the plug-in reports to the host and matches its devices by.
    static constexpr const char* kPluginName = "X10 CM19A FireCracker USB";

    // Keeps frm as the callback object and takes the host object from its
    // GetHSIface. Unlike the other calls this one raises: a host that cannot
    // be reached is the caller's failure (error 91 for a missing frm).
    static void registerCallback(std::shared_ptr<Dispatch> frm);
    // Drops both references, and forgets which caught faults were logged.
    static void release();

    static int32_t mode() { return s_mode; }
    static void addMode(int32_t bits) { s_mode |= bits; }
    // Replaces the whole set; for tests that need a plug-in set up one way only.
    static void setMode(int32_t bits) { s_mode = bits; }

    static const std::shared_ptr<Dispatch>& callback() { return s_callback; }
    static const std::shared_ptr<Dispatch>& hs() { return s_hs; }

    // The member's result, or nothing when the call failed.
    static std::optional<Variant> callHs(std::string_view name, std::vector<Variant>& args);
    static std::optional<Variant> callCallback(std::string_view name, std::vector<Variant>& args);

    template <typename... Args>
    static std::optional<Variant> hsCall(std::string_view name, Args&&... args) {
        std::vector<Variant> list{Variant(std::forward<Args>(args))...};
        return callHs(name, list);
    }
    template <typename... Args>
    static std::optional<Variant> callbackCall(std::string_view name, Args&&... args) {
        std::vector<Variant> list{Variant(std::forward<Args>(args))...};
        return callCallback(name, list);
    }

    // hs.WriteLog(type, message).
    static void WriteLog(const std::string& type, const std::string& message);
    // Logs a fault that the plug-in caught and went on from while `doing`
    // something ("Reporting a radio command"), the first time that fault comes
    // from there: one that recurs with every radio frame must not flood the log.
    static void logCaught(std::string_view doing, const std::exception& fault);

private:
    static std::optional<Variant> call(const std::shared_ptr<Dispatch>& target,
                                       std::string_view name, std::vector<Variant>& args);

    static inline std::shared_ptr<Dispatch> s_callback;
    static inline std::shared_ptr<Dispatch> s_hs;
    static inline int32_t s_mode = 0;
    static inline std::set<std::string> s_caught;  // what logCaught has logged
};
