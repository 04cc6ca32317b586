#include "script/LuaDispatch.h"

#include <lua.hpp>

#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "binding/Dispatch.h"

namespace {

constexpr const char* kObjectMeta = "brindle.object";
// Tables nested deeper than this are taken for a cycle.
constexpr int kMaxNesting = 32;
constexpr int kOutOfStackSpace = 28;

// The userdata behind an object seen by a script.
struct ObjectBox {
    std::shared_ptr<Dispatch> strong;
    std::weak_ptr<Dispatch> weak;  // used when strong is empty

    std::shared_ptr<Dispatch> get() const { return strong ? strong : weak.lock(); }
};

// The member table of an object, to tell a property from a method before the
// script has decided whether to call it. Dispatch keeps the table protected;
// forming the member pointer through a derived class is the sanctioned way in.
struct MemberTableAccess : Dispatch {
    static const MemberTable& of(const Dispatch& object) {
        return (object.*(&MemberTableAccess::members))();
    }
};

ObjectBox* testBox(lua_State* L, int index) {
    return static_cast<ObjectBox*>(luaL_testudata(L, index, kObjectMeta));
}
ObjectBox* checkBox(lua_State* L, int index) {
    return static_cast<ObjectBox*>(luaL_checkudata(L, index, kObjectMeta));
}

std::shared_ptr<Dispatch> resolve(lua_State* L, const ObjectBox* box) {
    std::shared_ptr<Dispatch> object = box->get();
    if (!object)
        LuaDispatch::raise(L, RuntimeError::kObjectRequired,
                           "Object variable or With block variable not set");
    return object;
}

std::string keyName(lua_State* L, int index) {
    if (lua_type(L, index) != LUA_TSTRING)
        LuaDispatch::raise(L, RuntimeError::kTypeMismatch, "Type mismatch");
    std::size_t length = 0;
    const char* text = lua_tolstring(L, index, &length);
    return std::string(text, length);
}

struct Outcome {
    Variant value;
    bool failed = false;
    int number = 0;
    std::string description;
};

// One late-bound call, with the script's clock stopped. Only exceptions of the
// C++ library family are caught here: Lua's own travel on to its handler, and
// nothing in this block raises one.
Outcome invoke(lua_State* L, Dispatch& object, const std::string& name, std::vector<Variant>& args,
               CallKind kind) {
    LuaDispatch::Engine* engine = LuaDispatch::engine(L);
    const auto remaining = engine->pauseTimeout();
    Outcome out;
    try {
        out.value = object.Invoke(name, args, kind);
    } catch (const RuntimeError& e) {
        out = {{}, true, e.number(), e.description()};
    } catch (const std::bad_alloc&) {
        out = {{}, true, 7, "Out of memory"};
    } catch (const std::exception& e) {
        out = {{}, true, 51, std::string("Internal error: ") + e.what()};
    }
    engine->resumeTimeout(remaining);
    return out;
}

int callMember(lua_State* L) {
    const auto* box = static_cast<const ObjectBox*>(lua_touserdata(L, lua_upvalueindex(1)));
    const std::string name = lua_tostring(L, lua_upvalueindex(2));
    const std::shared_ptr<Dispatch> object = resolve(L, box);
    const int top = lua_gettop(L);
    int first = 1;
    if (const ObjectBox* self = top >= 1 ? testBox(L, 1) : nullptr) {
        if (self->get() == object) first = 2;  // obj:Member(...)
    }
    std::vector<Variant> args;
    args.reserve(static_cast<std::size_t>(top));
    for (int i = first; i <= top; ++i) args.push_back(LuaDispatch::toVariant(L, i));
    Outcome out = invoke(L, *object, name, args, CallKind::Method);
    if (out.failed) LuaDispatch::raise(L, out.number, out.description);
    LuaDispatch::push(L, out.value);
    return 1;
}

int objectIndex(lua_State* L) {
    const ObjectBox* box = checkBox(L, 1);
    const std::string name = keyName(L, 2);
    const std::shared_ptr<Dispatch> object = resolve(L, box);
    const Member* member = MemberTableAccess::of(*object).find(name);
    if (member != nullptr && member->isProperty && member->invoke) {
        std::vector<Variant> none;
        Outcome out = invoke(L, *object, name, none, CallKind::PropertyGet);
        // An indexed property needs its indices: hand out a function instead.
        const bool needsArguments = out.failed && (out.number == 449 || out.number == 450);
        if (out.failed && !needsArguments) LuaDispatch::raise(L, out.number, out.description);
        if (!out.failed) {
            LuaDispatch::push(L, out.value);
            return 1;
        }
    }
    lua_pushvalue(L, 1);
    lua_pushvalue(L, 2);
    lua_pushcclosure(L, callMember, 2);
    return 1;
}

int objectNewIndex(lua_State* L) {
    const ObjectBox* box = checkBox(L, 1);
    const std::string name = keyName(L, 2);
    const std::shared_ptr<Dispatch> object = resolve(L, box);
    std::vector<Variant> args{LuaDispatch::toVariant(L, 3)};
    Outcome out = invoke(L, *object, name, args, CallKind::PropertyLet);
    if (out.failed) LuaDispatch::raise(L, out.number, out.description);
    return 0;
}

int objectEquals(lua_State* L) {
    const ObjectBox* a = testBox(L, 1);
    const ObjectBox* b = testBox(L, 2);
    lua_pushboolean(L, a != nullptr && b != nullptr && a->get() == b->get());
    return 1;
}

int objectToString(lua_State* L) {
    const ObjectBox* box = checkBox(L, 1);
    const std::shared_ptr<Dispatch> object = box->get();
    if (object)
        lua_pushfstring(L, "%s: %p", object->className().c_str(),
                        static_cast<const void*>(object.get()));
    else
        lua_pushliteral(L, "Nothing");
    return 1;
}

int objectCollect(lua_State* L) {
    if (ObjectBox* box = testBox(L, 1)) box->~ObjectBox();
    return 0;
}

ObjectBox* newBox(lua_State* L) {
    void* memory = lua_newuserdatauv(L, sizeof(ObjectBox), 0);
    auto* box = new (memory) ObjectBox();
    luaL_setmetatable(L, kObjectMeta);
    return box;
}

Variant tableToVariant(lua_State* L, int index, int depth);

Variant toVariantAt(lua_State* L, int index, int depth) {
    switch (lua_type(L, index)) {
        case LUA_TNONE:
        case LUA_TNIL:
            return {};
        case LUA_TBOOLEAN:
            return Variant(lua_toboolean(L, index) != 0);
        case LUA_TNUMBER:
            if (lua_isinteger(L, index)) {
                const lua_Integer n = lua_tointeger(L, index);
                if (std::in_range<int32_t>(n)) return Variant(static_cast<int32_t>(n));
                return Variant(static_cast<double>(n));
            }
            return Variant(static_cast<double>(lua_tonumber(L, index)));
        case LUA_TSTRING: {
            std::size_t length = 0;
            const char* text = lua_tolstring(L, index, &length);
            return Variant(std::string(text, length));
        }
        case LUA_TTABLE:
            return tableToVariant(L, index, depth);
        case LUA_TUSERDATA:
            if (const ObjectBox* box = testBox(L, index)) return Variant(box->get());
            break;
        default:
            break;
    }
    LuaDispatch::raise(L, RuntimeError::kTypeMismatch, "Type mismatch");
}

Variant tableToVariant(lua_State* L, int index, int depth) {
    if (depth >= kMaxNesting) LuaDispatch::raise(L, kOutOfStackSpace, "Out of stack space");
    index = lua_absindex(L, index);
    luaL_checkstack(L, 3, nullptr);
    const lua_Unsigned length = lua_rawlen(L, index);
    lua_Unsigned keys = 0;
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
        ++keys;
        lua_pop(L, 1);
    }
    // Only a sequence has an array form; a table with other keys would lose them.
    if (keys != length) LuaDispatch::raise(L, RuntimeError::kTypeMismatch, "Type mismatch");
    std::vector<Variant> items;
    items.reserve(length);
    for (lua_Unsigned i = 1; i <= length; ++i) {
        lua_rawgeti(L, index, static_cast<lua_Integer>(i));
        items.push_back(toVariantAt(L, -1, depth + 1));
        lua_pop(L, 1);
    }
    return Variant(std::move(items));
}

}  // namespace

void LuaDispatch::install(lua_State* L, Engine* engine) {
    *static_cast<Engine**>(lua_getextraspace(L)) = engine;
    luaL_newmetatable(L, kObjectMeta);
    static const luaL_Reg methods[] = {
        {"__index", objectIndex},       {"__newindex", objectNewIndex}, {"__eq", objectEquals},
        {"__tostring", objectToString}, {"__gc", objectCollect},        {nullptr, nullptr},
    };
    luaL_setfuncs(L, methods, 0);
    // A script must not reach the metatable every module's objects share.
    lua_pushboolean(L, 0);
    lua_setfield(L, -2, "__metatable");
    lua_pop(L, 1);
}

LuaDispatch::Engine* LuaDispatch::engine(lua_State* L) {
    return *static_cast<Engine**>(lua_getextraspace(L));
}

void LuaDispatch::push(lua_State* L, const Variant& value) {
    luaL_checkstack(L, 3, nullptr);
    switch (value.type()) {
        case Variant::Type::Empty:
        case Variant::Type::Null:
        case Variant::Type::Missing:
            lua_pushnil(L);
            return;
        case Variant::Type::Boolean:
            lua_pushboolean(L, value.toBool() ? 1 : 0);
            return;
        case Variant::Type::Integer:
        case Variant::Type::Long:
            lua_pushinteger(L, value.toLong());
            return;
        case Variant::Type::Double:
            lua_pushnumber(L, value.toDouble());
            return;
        case Variant::Type::Date: {
            const std::string text = vb::dateTimeText(value.toDate());
            lua_pushlstring(L, text.data(), text.size());
            return;
        }
        case Variant::Type::String: {
            const std::string text = value.toString();
            lua_pushlstring(L, text.data(), text.size());
            return;
        }
        case Variant::Type::ByteArray: {
            const std::vector<uint8_t> bytes = value.toBytes();
            lua_pushlstring(L, reinterpret_cast<const char*>(bytes.data()), bytes.size());
            return;
        }
        case Variant::Type::Object:
            if (std::shared_ptr<Dispatch> object = value.toObject())
                pushObject(L, std::move(object));
            else
                lua_pushnil(L);
            return;
        case Variant::Type::Array: {
            const std::vector<Variant> items = value.toArray();
            lua_createtable(L, static_cast<int>(items.size()), 0);
            for (std::size_t i = 0; i < items.size(); ++i) {
                push(L, items[i]);
                lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
            }
            return;
        }
    }
    raise(L, RuntimeError::kTypeMismatch, "Type mismatch");
}

Variant LuaDispatch::toVariant(lua_State* L, int index) {
    return toVariantAt(L, index, 0);
}

void LuaDispatch::pushObject(lua_State* L, std::shared_ptr<Dispatch> object) {
    newBox(L)->strong = std::move(object);
}

void LuaDispatch::pushWeakObject(lua_State* L, std::weak_ptr<Dispatch> object) {
    newBox(L)->weak = std::move(object);
}

void LuaDispatch::raise(lua_State* L, int number, const std::string& description) {
    luaL_checkstack(L, 2, nullptr);
    luaL_where(L, 1);
    lua_pushlstring(L, description.data(), description.size());
    lua_concat(L, 2);
    std::size_t length = 0;
    const char* message = lua_tolstring(L, -1, &length);
    engine(L)->faultRaised(number, description, std::string(message, length));
    lua_error(L);
    std::abort();  // lua_error does not return; this tells the compiler so
}
