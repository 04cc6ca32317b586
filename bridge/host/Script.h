#pragma once
// One script file loaded into its own module of the script engine, for one host
// Run or RunEx call. Add creates the module and loads the file with its
// "#include" files; Run calls one of its functions.
//
// Names without ":" and without "\\" are found in the program's Scripts folder
// (letter case ignored, "\" read as "/"); a name starting with "/" is an
// absolute path, as is any other name. A missing file is skipped without a
// word, and when the file given to Add is missing, Run does nothing and returns
// Empty. An "#include" directive loads the named file into the same module
// before the code around it, and is removed from that code; every file is
// loaded once per module, so include cycles and repeated includes end.
//
// Script errors never reach the caller: code that does not compile is logged
// ("Error in script syntax ...") and loading goes on; a failing call is logged
// ("Script Run Error ...") and returns Empty. Other faults (an unreadable file,
// a module key already taken) are raised to the caller.

#include <QDateTime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "binding/Dispatch.h"

class ScriptEngine;

class Script : public Dispatch {
public:
    // The engine must outlive the Script; the module stays in it afterwards.
    explicit Script(ScriptEngine& engine);
    std::string className() const override { return "Script"; }

    QDateTime FileDate() const { return m_fileDate; }
    void Add(const std::string& filename, const std::string& strKey);
    Variant Run(std::string Procedure, std::string Parameter);
    std::string filename() const { return m_filename; }

    // Run with any arguments (a status-change callback passes four).
    Variant runWith(const std::string& Procedure, const std::vector<Variant>& arguments);

protected:
    const MemberTable& members() const override;

private:
    void load(const std::string& name);

    ScriptEngine& m_engine;
    std::string m_key;
    std::string m_filename;
    QDateTime m_fileDate;
    bool m_found = false;            // the file given to Add existed
    std::set<std::string> m_loaded;  // files already in the module
};
