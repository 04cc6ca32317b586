#pragma once
// Late binding: objects called by member name at run time.
//
// Every object that the program, the plug-in or a script calls by name derives
// from Dispatch and lists its members in a MemberTable, one line per member:
//
//   const MemberTable& DeviceClass::members() const {
//       static const MemberTable table = MemberTable::of<DeviceClass>({
//           property("hc", &DeviceClass::getHc, &DeviceClass::setHc),
//           method("SetDeviceStatus", &DeviceClass::SetDeviceStatus, {"A1", 0}),
//       });
//       return table;
//   }
//
// Names are found ignoring case. Arguments arrive as a std::vector<Variant>& and
// are converted to the member function's parameter types with Variant's rules,
// so a failed conversion raises that conversion's error (13, 6, ...). Parameter
// types: bool, int16_t, int32_t, long, double, std::string, QDateTime,
// std::vector<uint8_t>, std::vector<Variant>, std::shared_ptr<Dispatch> or of a
// class derived from it (another class raises 13), Variant; by value or by const
// reference. A parameter taken by non-const reference is by reference: what the
// member leaves in it is written back into the caller's argument (a `Variant&`
// parameter is the caller's argument itself). Results: void (Empty), the same
// types, Variant.
//
// Optional arguments are trailing. The defaults given to method() belong to the
// last parameters; an argument that is left out, or passed as Variant::missing(),
// takes its default (give Variant::missing() as the default of a Variant
// parameter that must see whether it was passed). Too many or too few arguments
// raise 450; a Missing argument where no default exists raises 449.
//
// A property has a getter, a setter or both, named once: property("x", &C::getX,
// &C::setX), property("x", &C::getX) or property("x", nullptr, &C::setX). An
// indexed property takes its indices as the getter's parameters and as the
// setter's leading parameters, the assigned value last. Reading a property with a
// method call works, as does calling a method for a property read; assigning to a
// method or to a property without a setter, reading one without a getter, and an
// unknown name raise 438 with the class name as the source.
//
// Instead of a member function, a member may be any callable taking (T&,
// std::vector<Variant>&) and returning void or a value: it receives the arguments
// as passed, unchecked, for members that take anything (or ignore everything).
//
// An object that answers to names not known in advance overrides Invoke.
// Objects are shared with std::shared_ptr; one thread, no locks.

#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/Variant.h"

enum class CallKind { Method, PropertyGet, PropertyLet };

class Dispatch;

// One member as Invoke sees it.
struct Member {
    using Call = std::function<Variant(Dispatch& self, std::vector<Variant>& args)>;
    std::string name;
    bool isProperty = false;
    Call invoke;  // the method, or the property's getter
    Call assign;  // the property's setter: indices first, the value last
};

namespace dispatch_detail {

template <typename Fn>
struct MethodDef {
    std::string_view name;
    Fn fn;
    std::vector<Variant> defaults;
};

template <typename Get, typename Set>
struct PropertyDef {
    std::string_view name;
    Get get;
    Set set;
};

// Checks the argument count and points each of the parameters at its argument,
// or at a copy of its default kept in scratch. Raises 450 or 449.
void bindArguments(std::vector<Variant>& args, const std::vector<Variant>& defaults,
                   std::span<Variant*> slots, std::vector<Variant>& scratch);

template <typename V>
struct IsSharedPtr : std::false_type {};
template <typename V>
struct IsSharedPtr<std::shared_ptr<V>> : std::true_type {};

[[noreturn]] void objectTypeMismatch();

template <typename V>
V fromVariant(const Variant& v) {
    if constexpr (std::is_same_v<V, Variant>)
        return v;
    else if constexpr (std::is_same_v<V, bool>)
        return v.toBool();
    else if constexpr (std::is_same_v<V, int16_t>)
        return v.toInt();
    else if constexpr (std::is_same_v<V, int32_t> || std::is_same_v<V, long>)
        return v.toLong();
    else if constexpr (std::is_same_v<V, double>)
        return v.toDouble();
    else if constexpr (std::is_same_v<V, std::string>)
        return v.toString();
    else if constexpr (std::is_same_v<V, QDateTime>)
        return v.toDate();
    else if constexpr (std::is_same_v<V, std::vector<uint8_t>>)
        return v.toBytes();
    else if constexpr (std::is_same_v<V, std::vector<Variant>>)
        return v.toArray();
    else if constexpr (IsSharedPtr<V>::value &&
                       std::is_base_of_v<Dispatch, typename V::element_type>) {
        std::shared_ptr<Dispatch> object = v.toObject();
        if constexpr (std::is_same_v<typename V::element_type, Dispatch>) {
            return object;
        } else {
            auto derived = std::dynamic_pointer_cast<typename V::element_type>(object);
            if (object && !derived) objectTypeMismatch();
            return derived;
        }
    } else {
        static_assert(!sizeof(V), "this parameter type cannot be passed by name");
    }
}

// How one parameter receives its argument.
template <typename P>
struct Param {  // by value or const reference: a converted copy
    using V = std::remove_cvref_t<P>;
    explicit Param(Variant& arg) : value(fromVariant<V>(arg)) {}
    V&& get() { return std::move(value); }
    void writeBack() {}
    V value;
};
template <typename V>
requires(!std::is_const_v<V>) struct Param<V&> {  // by reference: converted in, written back out
    explicit Param(Variant& arg) : target(&arg), value(fromVariant<V>(arg)) {}
    V& get() { return value; }
    void writeBack() { *target = Variant(value); }
    Variant* target;
    V value;
};
template <>
struct Param<Variant&> {  // the caller's argument itself
    explicit Param(Variant& arg) : target(&arg) {}
    Variant& get() { return *target; }
    void writeBack() {}
    Variant* target;
};

template <typename R, typename... P>
struct TypedCall {
    template <typename Fn, typename Self, std::size_t... I>
    static Variant run(const Fn& fn, Self& self, [[maybe_unused]] std::span<Variant*> slots,
                       std::index_sequence<I...>) {
        std::tuple<Param<P>...> params{Param<P>(*slots[I])...};
        if constexpr (std::is_void_v<R>) {
            std::invoke(fn, self, std::get<I>(params).get()...);
            (std::get<I>(params).writeBack(), ...);
            return {};
        } else {
            Variant result(std::invoke(fn, self, std::get<I>(params).get()...));
            (std::get<I>(params).writeBack(), ...);
            return result;
        }
    }

    template <typename Fn, typename Self>
    static Variant call(const Fn& fn, Self& self, std::vector<Variant>& args,
                        const std::vector<Variant>& defaults) {
        std::array<Variant*, sizeof...(P)> slots{};
        std::vector<Variant> scratch;
        bindArguments(args, defaults, slots, scratch);
        return run(fn, self, slots, std::index_sequence_for<P...>{});
    }
};

template <typename Fn>
struct Signature;
template <typename C, typename R, typename... P>
struct Signature<R (C::*)(P...)> : TypedCall<R, P...> {};
template <typename C, typename R, typename... P>
struct Signature<R (C::*)(P...) const> : TypedCall<R, P...> {};
template <typename C, typename R, typename... P>
struct Signature<R (C::*)(P...) noexcept> : TypedCall<R, P...> {};
template <typename C, typename R, typename... P>
struct Signature<R (C::*)(P...) const noexcept> : TypedCall<R, P...> {};

template <typename Fn>
constexpr std::size_t arity = 0;
template <typename C, typename R, typename... P>
constexpr std::size_t arity<R (C::*)(P...)> = sizeof...(P);
template <typename C, typename R, typename... P>
constexpr std::size_t arity<R (C::*)(P...) const> = sizeof...(P);
template <typename C, typename R, typename... P>
constexpr std::size_t arity<R (C::*)(P...) noexcept> = sizeof...(P);
template <typename C, typename R, typename... P>
constexpr std::size_t arity<R (C::*)(P...) const noexcept> = sizeof...(P);

template <typename T, typename Fn>
Member::Call bind(Fn fn, std::vector<Variant> defaults = {}) {
    if constexpr (std::is_null_pointer_v<Fn>) {
        return {};
    } else if constexpr (std::is_member_function_pointer_v<Fn>) {
        return [fn, defaults = std::move(defaults)](Dispatch& self, std::vector<Variant>& args) {
            return Signature<Fn>::call(fn, static_cast<T&>(self), args, defaults);
        };
    } else {
        static_assert(
            std::is_invocable_v<const Fn&, T&, std::vector<Variant>&>,
            "a member is a member function or a callable taking (T&, std::vector<Variant>&)");
        return [fn](Dispatch& self, std::vector<Variant>& args) -> Variant {
            if constexpr (std::is_void_v<
                              std::invoke_result_t<const Fn&, T&, std::vector<Variant>&>>) {
                fn(static_cast<T&>(self), args);
                return {};
            } else {
                return Variant(fn(static_cast<T&>(self), args));
            }
        };
    }
}

[[noreturn]] void tooManyDefaults(std::string_view name);
[[noreturn]] void wrongArgumentCount();

// The class and type of a data member pointer.
template <typename M>
struct FieldOf;
template <typename C, typename V>
struct FieldOf<V C::*> {
    using Class = C;
    using Type = V;
};

}  // namespace dispatch_detail

// The members of one class, found by name ignoring case.
class MemberTable {
public:
    // One line of a table of class T: what method() or property() returned.
    template <typename T>
    struct Entry {
        template <typename Fn>
        Entry(dispatch_detail::MethodDef<Fn> def) {
            if constexpr (std::is_member_function_pointer_v<Fn>) {
                if (def.defaults.size() > dispatch_detail::arity<Fn>)
                    dispatch_detail::tooManyDefaults(def.name);
            }
            member.name = def.name;
            member.invoke = dispatch_detail::bind<T>(def.fn, std::move(def.defaults));
        }
        template <typename Get, typename Set>
        Entry(dispatch_detail::PropertyDef<Get, Set> def) {
            member.name = def.name;
            member.isProperty = true;
            member.invoke = dispatch_detail::bind<T>(def.get);
            member.assign = dispatch_detail::bind<T>(def.set);
        }
        Member member;
    };

    template <typename T>
    static MemberTable of(std::initializer_list<Entry<T>> entries) {
        static_assert(std::is_base_of_v<Dispatch, T>);
        MemberTable table;
        for (const Entry<T>& entry : entries) table.add(entry.member);
        return table;
    }

    // A getter-only and a setter-only entry of one name make one property; any
    // other repeated name is a mistake in the table (std::logic_error).
    void add(Member member);
    const Member* find(std::string_view name) const;
    std::size_t size() const { return m_members.size(); }
    auto begin() const { return m_members.begin(); }
    auto end() const { return m_members.end(); }

private:
    std::vector<Member> m_members;
    std::unordered_map<std::string, std::size_t> m_index;  // lower-cased name
};

class Dispatch : public std::enable_shared_from_this<Dispatch> {
public:
    virtual ~Dispatch() = default;

    // Calls the member `name`. For PropertyLet the value to assign is the last
    // argument. Arguments the member takes by reference are updated in args.
    virtual Variant Invoke(std::string_view name, std::vector<Variant>& args,
                           CallKind kind = CallKind::Method);

    // Name used as the source of this object's errors; by default the C++ class name.
    virtual std::string className() const;

    // Conveniences taking their arguments by value (nothing is written back).
    template <typename... Args>
    Variant call(std::string_view name, Args&&... args) {
        std::vector<Variant> list{Variant(std::forward<Args>(args))...};
        return Invoke(name, list, CallKind::Method);
    }
    template <typename... Indices>
    Variant get(std::string_view name, Indices&&... indices) {
        std::vector<Variant> list{Variant(std::forward<Indices>(indices))...};
        return Invoke(name, list, CallKind::PropertyGet);
    }
    // let("x", value) or, for an indexed property, let("x", index..., value).
    template <typename... Args>
    requires(sizeof...(Args) >= 1) void let(std::string_view name, Args&&... indicesThenValue) {
        std::vector<Variant> list{Variant(std::forward<Args>(indicesThenValue))...};
        Invoke(name, list, CallKind::PropertyLet);
    }

protected:
    // The class's member table; the default has no members.
    virtual const MemberTable& members() const;

    // Raises 438 for `name` with this object's class name as the source.
    [[noreturn]] void memberNotFound(std::string_view name) const;

    // Table lines, for members() of derived classes.
    template <typename Fn>
    static dispatch_detail::MethodDef<Fn> method(std::string_view name, Fn fn,
                                                 std::vector<Variant> defaults = {}) {
        return {name, fn, std::move(defaults)};
    }
    template <typename Get>
    static dispatch_detail::PropertyDef<Get, std::nullptr_t> property(std::string_view name,
                                                                      Get get) {
        return {name, get, nullptr};
    }
    template <typename Get, typename Set>
    static dispatch_detail::PropertyDef<Get, Set> property(std::string_view name, Get get,
                                                           Set set) {
        return {name, get, set};
    }
    // A plain data member as a read-write property of its own type, so a
    // record needs no getter and setter per field: field<&DeviceClass::hc>("hc").
    template <auto Field>
    static auto field(std::string_view name) {
        using F = dispatch_detail::FieldOf<decltype(Field)>;
        using C = typename F::Class;
        using V = typename F::Type;
        auto get = [](C& self, std::vector<Variant>& args) -> Variant {
            if (!args.empty()) dispatch_detail::wrongArgumentCount();
            return Variant(self.*Field);
        };
        auto set = [](C& self, std::vector<Variant>& args) {
            if (args.size() != 1) dispatch_detail::wrongArgumentCount();
            self.*Field = dispatch_detail::fromVariant<V>(args[0]);
        };
        return property(name, get, set);
    }
};
