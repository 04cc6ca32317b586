#pragma once
// The script engine behind the host's Run and RunEx: Lua 5.4 with modules.
//
// A module is a named environment of its own: what one module's code sets as a
// global no other module sees, and each module has its own copies of the
// library tables, so a script that replaces string.format changes it for itself
// only. Scripts get the base, string, table, math and utf8 libraries, without
// dofile, loadfile, collectgarbage and string.dump, and setmetatable refuses
// finalizers (__gc runs where no time-out can stop it); `load` takes text only and
// gives the loaded chunk the module's environment unless told otherwise. There
// is no io, os, package/require or debug. Objects added with addObject are
// globals of every module created afterwards, reached by late binding (see
// LuaDispatch.h for how values and objects look to a script).
//
// Every operation (adding code runs the code's top-level statements; calling a
// function) has a time-out, 10 000 ms unless set otherwise. Only the script's
// own time counts: while a member of a host object runs, the clock stops, so a
// script that waits through the host (WaitSecs) or lets events run is not
// stopped for it, and a script that such an event runs meanwhile (nested) gets a
// time-out of its own (the flip side: a loop that spends most of its time in
// quick host calls runs longer than the time-out by the clock on the wall). A
// script that overruns is stopped with error kTimeout;
// it cannot pcall its way past it, because the error is raised again as long as
// the script keeps running. Library calls that would work long inside one C call
// are held to it too: pattern matching stops at the time-out, and the table
// functions and string.rep refuse work that would not end in time (LuaLimits.h).
//
// All modules share one memory limit (64 MiB unless set otherwise). An
// allocation beyond it fails as a Lua memory error: the call fails with error 7
// "Out of memory", and the engine stays usable once the memory is given back.
//
// Failures: addModule, addCode and run raise a RuntimeError (source
// "ScriptEngine") with the error's number and description, and leave the details
// in error() until clearError() or the next failure. Numbers: kSyntaxError for
// code that does not compile; kScriptError for an error raised by script code
// (error(), arithmetic on nil, ...); kTimeout; 7 out of memory; kProcedureNotFound
// for a function the module lacks; kNoSuchModule; kModuleExists; a fault of a
// host member that the script did not catch keeps the fault's own number and
// description. Lua reports lines but no columns: the column is always 0.
//
// One thread. Calls may nest: a host member that a script calls may run other
// scripts of the same engine. The engine must outlive its calls; modules are
// kept until the engine is destroyed.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/Variant.h"

class Dispatch;

struct ScriptError {
    int number = 0;
    std::string description;
    std::string source;  // the chunk it arose in: its file name, or the module's name
    int line = 0;        // 1-based line within that chunk; 0 when unknown
    int column = 0;      // always 0
};

class ScriptEngine {
public:
    static constexpr int kDefaultTimeoutMs = 10000;
    static constexpr std::size_t kDefaultMemoryLimit = std::size_t{64} << 20;

    static constexpr int kOutOfMemory = 7;
    static constexpr int kNoSuchModule = 9;
    static constexpr int kProcedureNotFound = 35;
    static constexpr int kModuleExists = 457;
    static constexpr int kScriptError = 1000;
    static constexpr int kSyntaxError = 1002;
    static constexpr int kTimeout = 1003;

    // Raises error 7 when Lua cannot start.
    ScriptEngine();
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Milliseconds of script time per operation; 0 or less: no time-out.
    int timeout() const;
    void setTimeout(int milliseconds);
    // Bytes all modules may hold together; 0: no limit. Lowering it below what
    // is in use makes every allocation fail until enough is freed.
    std::size_t memoryLimit() const;
    void setMemoryLimit(std::size_t bytes);
    std::size_t memoryUsed() const;

    // Makes `object` the global `name` of every module added from now on. The
    // engine does not keep it alive (the host object owns the engine); once it
    // is gone, a script that uses it gets error 91.
    void addObject(const std::string& name, std::weak_ptr<Dispatch> object);

    // Module names compare ignoring case.
    void addModule(const std::string& name);
    bool hasModule(const std::string& name) const;
    // Lets go of a module's code and globals while its name stays taken, so
    // a long-running host that makes a module per call does not grow without
    // end. Calling into a released module fails as an unknown one does.
    void releaseModule(const std::string& name);
    std::size_t moduleCount() const;

    // Compiles `code` into the module and runs its top-level statements.
    // chunkName names the code in errors (a file name); the module's name when
    // empty.
    void addCode(const std::string& module, std::string_view code,
                 const std::string& chunkName = {});

    // Calls the module's function `procedure` (found by exact name, or else by a
    // unique name that equals it ignoring case) with the arguments; returns its
    // first result (Empty for none).
    Variant run(const std::string& module, const std::string& procedure,
                const std::vector<Variant>& args = {});

    // The last failure, until cleared.
    const ScriptError& error() const;
    void clearError();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
