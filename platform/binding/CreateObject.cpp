#include "binding/CreateObject.h"

#include <QLoggingCategory>
#include <filesystem>
#include <map>

#include "base/Convert.h"
#include "base/ProcessState.h"
#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"
#include "binding/Dispatch.h"
#include "binding/SharedLibrary.h"
#include "registry/Registry.h"

Q_LOGGING_CATEGORY(lcCreateObject, "brindle.platform.createobject", QtWarningMsg)

namespace {

using Factory = Dispatch* (*)(const char*);
constexpr const char* kFactorySymbol = "brindle_create_object";

std::string classKey(const std::string& progId) {
    return "HKEY_CLASSES_ROOT\\" + progId + "\\InprocServer32";
}

[[noreturn]] void cannotCreate(const std::string& progId, const std::string& why) {
    qCWarning(lcCreateObject, "CreateObject %s: %s", progId.c_str(), why.c_str());
    raiseError(RuntimeError::kCannotCreateObject, "ActiveX component can't create object", progId);
}

std::map<std::string, std::function<std::shared_ptr<Dispatch>()>>& inProcessFactories() {
    static std::map<std::string, std::function<std::shared_ptr<Dispatch>()>> factories;
    return factories;
}
// The libraries loaded below stay: their code may be referenced anywhere.
const bool kFactoriesReset =
    ProcessState::registerReset("CreateObject", [] { inProcessFactories().clear(); });

}  // namespace

std::shared_ptr<Dispatch> CreateObject(const std::string& progId) {
    if (auto it = inProcessFactories().find(vb::LCase(progId)); it != inProcessFactories().end()) {
        if (auto object = it->second()) return object;
        cannotCreate(progId, "the in-process factory made nothing");
    }

    const auto registered = Registry::instance().queryString(classKey(progId), "");
    if (!registered || registered->empty()) cannotCreate(progId, "class not registered");
    std::filesystem::path library(ProgramFolder::mapPath(*registered));
    if (library.is_relative()) library = std::filesystem::path(ProgramFolder::path()) / library;

    std::string error;
    void* handle = SharedLibrary::load(library.lexically_normal().string(),
                                       SharedLibrary::Scope::Global, error);
    if (handle == nullptr) cannotCreate(progId, error);
    auto factory = reinterpret_cast<Factory>(SharedLibrary::entry(handle, kFactorySymbol));
    if (factory == nullptr) cannotCreate(progId, library.string() + " has no " + kFactorySymbol);
    Dispatch* object = factory(progId.c_str());
    if (object == nullptr) cannotCreate(progId, library.string() + " does not make this class");
    return std::shared_ptr<Dispatch>(object);
}

long registerClass(const std::string& progId, const std::string& libraryPath) {
    return registerClass(Registry::instance(), progId, libraryPath);
}

long registerClass(Registry& registry, const std::string& progId, const std::string& libraryPath) {
    return registry.setString(classKey(progId), "", libraryPath);
}

void registerFactory(const std::string& progId,
                     std::function<std::shared_ptr<Dispatch>()> factory) {
    if (factory)
        inProcessFactories()[vb::LCase(progId)] = std::move(factory);
    else
        inProcessFactories().erase(vb::LCase(progId));
}
