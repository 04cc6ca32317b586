#include "binding/Dispatch.h"

#include <cxxabi.h>
#include <QLoggingCategory>
#include <cstdlib>
#include <stdexcept>
#include <typeinfo>

#include "base/Convert.h"
#include "base/RuntimeError.h"

Q_LOGGING_CATEGORY(lcDispatch, "brindle.platform.dispatch", QtWarningMsg)

namespace {

constexpr int kArgumentNotOptional = 449;
constexpr int kWrongArgumentCount = 450;

}  // namespace

namespace dispatch_detail {
void wrongArgumentCount() {
    raiseError(kWrongArgumentCount, "Wrong number of arguments or invalid property assignment");
}
}  // namespace dispatch_detail

using dispatch_detail::wrongArgumentCount;

namespace dispatch_detail {

void bindArguments(std::vector<Variant>& args, const std::vector<Variant>& defaults,
                   std::span<Variant*> slots, std::vector<Variant>& scratch) {
    const std::size_t count = slots.size();
    const std::size_t required = count - defaults.size();
    if (args.size() > count || args.size() < required) wrongArgumentCount();
    // Defaults are copied so that a by-reference parameter may change its own.
    scratch.reserve(count - required);
    for (std::size_t i = 0; i < count; ++i) {
        if (i < args.size() && !args[i].isMissing()) {
            slots[i] = &args[i];
        } else if (i >= required) {
            scratch.push_back(defaults[i - required]);
            slots[i] = &scratch.back();
        } else {
            raiseError(kArgumentNotOptional, "Argument not optional");
        }
    }
}

void objectTypeMismatch() {
    raiseError(RuntimeError::kTypeMismatch, "Type mismatch");
}

void tooManyDefaults(std::string_view name) {
    throw std::logic_error("member table: more defaults than parameters for " + std::string(name));
}

}  // namespace dispatch_detail

void MemberTable::add(Member member) {
    const std::string key = vb::LCase(member.name);
    if (auto it = m_index.find(key); it != m_index.end()) {
        Member& existing = m_members[it->second];
        const bool halves = existing.isProperty && member.isProperty &&
                            !(existing.invoke && member.invoke) &&
                            !(existing.assign && member.assign);
        if (!halves) throw std::logic_error("member table: " + member.name + " appears twice");
        if (member.invoke) existing.invoke = std::move(member.invoke);
        if (member.assign) existing.assign = std::move(member.assign);
        return;
    }
    m_index.emplace(key, m_members.size());
    m_members.push_back(std::move(member));
}

const Member* MemberTable::find(std::string_view name) const {
    auto it = m_index.find(vb::LCase(name));
    return it == m_index.end() ? nullptr : &m_members[it->second];
}

Variant Dispatch::Invoke(std::string_view name, std::vector<Variant>& args, CallKind kind) {
    const Member* member = members().find(name);
    if (member == nullptr) memberNotFound(name);
    // A read may call a method and a method call may read a property, as an
    // expression `obj.Name` is either; only assignment is strict.
    const Member::Call& target = kind == CallKind::PropertyLet ? member->assign : member->invoke;
    if (!target) memberNotFound(name);
    return target(*this, args);
}

std::string Dispatch::className() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

const MemberTable& Dispatch::members() const {
    static const MemberTable empty;
    return empty;
}

void Dispatch::memberNotFound(std::string_view name) const {
    // The system's message does not name the member; the debug log does.
    qCDebug(lcDispatch, "%s has no member %.*s", className().c_str(), static_cast<int>(name.size()),
            name.data());
    raiseError(RuntimeError::kMemberNotFound, "Object doesn't support this property or method",
               className());
}
