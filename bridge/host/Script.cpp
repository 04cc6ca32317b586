#include "host/Script.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/Convert.h"
#include "base/Err.h"
#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"
#include "script/ScriptEngine.h"
#include "xap/XapLog.h"

namespace fs = std::filesystem;

namespace {

fs::path resolve(const std::string& name) {
    const bool relative = name.find(':') == std::string::npos &&
                          name.find("\\\\") == std::string::npos &&
                          (name.empty() || name.front() != '/');
    if (!relative) return fs::path(ProgramFolder::mapPath(name));
    const std::string below = !name.empty() && name.front() == '\\' ? name.substr(1) : name;
    return ProgramFolder::resolveIgnoringCase(fs::path(ProgramFolder::path()) / "Scripts", below);
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) raiseError(RuntimeError::kFileNotFound, "File not found");
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // Lua would read an editor's byte-order mark as code.
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    return text;
}

std::size_t findIgnoringCase(const std::string& text, const std::string& word, std::size_t from) {
    return vb::LCase(text).find(vb::LCase(word), from);
}

std::string describe(const std::exception& e) {
    if (const auto* fault = dynamic_cast<const RuntimeError*>(&e)) return fault->description();
    return e.what();
}

}  // namespace

Script::Script(ScriptEngine& engine)
    : m_engine(engine), m_fileDate(QDate(1980, 1, 1), QTime(0, 0)) {}

const MemberTable& Script::members() const {
    static const MemberTable table = MemberTable::of<Script>({
        property("FileDate", &Script::FileDate),
        method("Add", &Script::Add),
        method("Run", &Script::Run),
        property("filename", &Script::filename),
    });
    return table;
}

void Script::Add(const std::string& filename, const std::string& strKey) {
    m_filename = filename;
    m_key = strKey;
    m_engine.addModule(strKey);
    m_found = fs::is_regular_file(resolve(filename));
    load(filename);
}

void Script::load(const std::string& name) {
    const fs::path path = resolve(name);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return;
    const std::string identity = fs::weakly_canonical(path, ec).string();
    if (!m_loaded.insert(identity.empty() ? path.string() : identity).second) return;

    std::string text = readAll(path);
    static const std::string kDirective = "#include";
    std::size_t at = findIgnoringCase(text, kDirective, 0);
    while (at != std::string::npos) {
        const std::size_t open = text.find('"', at + kDirective.size());
        const std::size_t close = open == std::string::npos ? open : text.find('"', open + 1);
        if (close == std::string::npos) break;
        load(vb::Trim(text.substr(open + 1, close - open - 1)));
        // The rest of the directive's line stays, so line numbers still match
        // the file.
        text.erase(at, close + 1 - at);
        at = findIgnoringCase(text, kDirective, at);
    }

    try {
        m_engine.addCode(m_key, text, path.string());
    } catch (const std::exception& e) {
        const ScriptError& error = m_engine.error();
        const std::string message = "Error in script syntax " + describe(e) + " / " +
                                    path.string() + " " + error.description + "@ Line " +
                                    std::to_string(error.line) + " col " +
                                    std::to_string(error.column);
        Err::capture(e);
        LogEvent("brindlehub", message);
        m_engine.clearError();
    }
}

Variant Script::Run(std::string Procedure, std::string Parameter) {
    return runWith(Procedure, {Variant(std::move(Parameter))});
}

Variant Script::runWith(const std::string& Procedure, const std::vector<Variant>& arguments) {
    if (!m_found) return {};
    try {
        return m_engine.run(m_key, Procedure, arguments);
    } catch (const std::exception& e) {
        const ScriptError& error = m_engine.error();
        const std::string message = "Script Run Error " + describe(e) + " / " +
                                    std::to_string(error.number) + " - " + error.description +
                                    "@ Line " + std::to_string(error.line) + " col " +
                                    std::to_string(error.column);
        Err::capture(e);
        LogEvent("brindlehub", message);
        m_engine.clearError();
        return {};
    }
}
