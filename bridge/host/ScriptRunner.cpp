#include "host/ScriptRunner.h"

#include <limits>

#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"
#include "binding/Dispatch.h"
#include "host/Script.h"
#include "script/ScriptEngine.h"
#include "xap/XapLog.h"

ScriptRunner::ScriptRunner(Dispatch& host) : m_host(host) {}
ScriptRunner::~ScriptRunner() = default;

ScriptEngine& ScriptRunner::engine() {
    if (!m_engine) {
        m_engine = std::make_unique<ScriptEngine>();
        m_engine->addObject("hs", m_host.weak_from_this());
    }
    return *m_engine;
}

Variant ScriptRunner::runScript(const std::string& scr, const std::string& func,
                                const std::vector<Variant>& args) {
    ScriptEngine& scripts = engine();
    if (m_runCount == std::numeric_limits<int32_t>::max())
        raiseError(RuntimeError::kOverflow, "Overflow");
    ++m_runCount;
    const std::string key = "M" + std::to_string(m_runCount);
    const auto script = std::make_shared<Script>(scripts);
    script->Add(scr, key);
    // Nothing reaches a module after its one call: its name stays taken, its
    // memory is returned (a module per status change would otherwise fill the
    // engine's cap within weeks).
    struct Release {
        ScriptEngine& engine;
        const std::string& key;
        ~Release() { engine.releaseModule(key); }
    } release{scripts, key};
    return script->runWith(func, args);
}

void ScriptRunner::Run(const std::string& scr) {
    guarded("Run ", [&] { runScript(scr, "main", {Variant(std::string())}); });
}

Variant ScriptRunner::RunEx(const std::string& scr, const std::string& func,
                            const std::string& param) {
    return guarded("RunEx ", {}, [&] { return runScript(scr, func, {Variant(param)}); });
}

std::string ScriptRunner::GetScriptPath() {
    return ProgramFolder::path() + "/Scripts";
}

Variant ScriptRunner::runCallback(const std::string& scr, const std::string& func,
                                  const std::vector<Variant>& params) {
    return runScript(scr, func, params);
}
