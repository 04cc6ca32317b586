#include "Application.h"

namespace {
std::unique_ptr<Application> g_host;
}

Application* Application::instance() { return g_host.get(); }

Application& Application::create() {
    if (!g_host) g_host = std::make_unique<Application>();
    return *g_host;
}

void Application::release() { g_host.reset(); }

std::string Application::GetINISetting(const std::string& group, const std::string& Key,
                                       const std::string& defaultValue,
                                       const std::string& sFile) {
    return m_iniCache.GetINISetting(group, Key, defaultValue, sFile);
}

void Application::SaveINISetting(const std::string& group, const std::string& Key,
                                 const std::string& Value, const std::string& sFile) {
    m_iniCache.SaveINISetting(group, Key, Value, sFile);
}

std::string Application::GetINISection(const std::string& group, const std::string& sFile) {
    return m_iniCache.GetINISection(group, sFile);
}

void Application::ClearIniSection(const std::string& group, const std::string& sFile) {
    m_iniCache.ClearIniSection(group, sFile);
}

void Application::FlushIniCache() { m_iniCache.FlushIniCache(); }
