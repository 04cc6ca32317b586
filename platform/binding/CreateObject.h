#pragma once
// Creation of objects by class name (ProgID), as the plug-in binding and scripts
// do it.
//
// A class is registered when the default value of
// HKEY_CLASSES_ROOT\<ProgID>\InprocServer32 names a shared library (a relative
// path is taken below the program folder). CreateObject loads that library the
// first time (RTLD_NOW | RTLD_GLOBAL, never unloaded) and asks its exported
// factory, brindle_create_object, for the class. The library allocates the
// object with new; the returned shared_ptr deletes it, which is sound because the
// program and its libraries share one C++ runtime.
//
// An unregistered ProgID, a library that cannot be loaded or lacks the factory,
// and a factory that answers null all raise 429 "ActiveX component can't
// create object" with the ProgID as the source; why is written to the warning log.
// A fault raised by the class's constructor travels to the caller unchanged.

#include <functional>
#include <memory>
#include <string>

class Dispatch;
class Registry;

// The factory every class library exports: the object for progId (any letter
// case), or null for a ProgID it does not know.
extern "C" Dispatch* brindle_create_object(const char* progId);

std::shared_ptr<Dispatch> CreateObject(const std::string& progId);

// Writes the registration of progId. Returns the registry's result code.
long registerClass(const std::string& progId, const std::string& libraryPath);
long registerClass(Registry& registry, const std::string& progId, const std::string& libraryPath);

// Lets CreateObject make progId in-process without a library, ahead of the
// registry, so tests can stand in for a plug-in. An empty factory removes it.
void registerFactory(const std::string& progId, std::function<std::shared_ptr<Dispatch>()> factory);
