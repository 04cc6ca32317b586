#pragma once
// The host's script members and the runner of status-change script callbacks.
// Owns the one script engine (created at first use, so a run without scripts
// never starts Lua) and the run counter from which module keys M1, M2, ... are
// made: every run loads its file into a new module, which stays in the engine.
//
// Every module sees the host object as the global `hs`; the engine does not keep
// the host alive, since the host owns this runner.
//
// Run and RunEx catch their own faults: logged as "Run " or "RunEx ", with an
// empty result. Script errors are logged by Script and never get here.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "binding/Variant.h"

class Dispatch;
class ScriptEngine;

class ScriptRunner {
public:
    // `host` is the object scripts see as hs; it must outlive the runner.
    explicit ScriptRunner(Dispatch& host);
    ~ScriptRunner();
    ScriptRunner(const ScriptRunner&) = delete;
    ScriptRunner& operator=(const ScriptRunner&) = delete;

    // Host members.
    void Run(const std::string& scr);
    Variant RunEx(const std::string& scr, const std::string& func, const std::string& param);
    std::string GetScriptPath();

    // A status-change callback: the function receives the four values (house
    // code, unit, status, reference) as four arguments. Faults other than script
    // errors reach the caller, the device member, which logs them.
    Variant runCallback(const std::string& scr, const std::string& func,
                        const std::vector<Variant>& params);

    ScriptEngine& engine();
    int32_t runCount() const { return m_runCount; }

private:
    Variant runScript(const std::string& scr, const std::string& func,
                      const std::vector<Variant>& args);

    Dispatch& m_host;
    std::unique_ptr<ScriptEngine> m_engine;
    int32_t m_runCount = 0;
};
