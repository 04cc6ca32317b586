#pragma once
// The host object "hs" that plug-ins and scripts call. It lives from start-up
// (created at the end of InitXap) until the host window unloads at exit.
//
// This holds the members the program needs so far: the INI file cache behind
// the settings members. The late-bound member table comes with the plug-in host.

#include <memory>
#include <string>

#include "IniCache.h"

class Application {
public:
    // The host object, or nullptr before it is created and after it is released.
    static Application* instance();
    static Application& create();
    static void release();

    std::string GetINISetting(const std::string& group, const std::string& Key,
                              const std::string& defaultValue, const std::string& sFile = {});
    void SaveINISetting(const std::string& group, const std::string& Key,
                        const std::string& Value, const std::string& sFile = {});
    std::string GetINISection(const std::string& group, const std::string& sFile = {});
    void ClearIniSection(const std::string& group, const std::string& sFile = {});
    void FlushIniCache();

    IniCache& iniCache() { return m_iniCache; }

private:
    IniCache m_iniCache;
};
