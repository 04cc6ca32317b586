#include "binding/SharedLibrary.h"

#include <dlfcn.h>
#include <map>

void* SharedLibrary::load(const std::string& path, Scope scope, std::string& error) {
    static std::map<std::string, void*> loaded;
    if (auto it = loaded.find(path); it != loaded.end()) return it->second;
    void* handle =
        ::dlopen(path.c_str(), RTLD_NOW | (scope == Scope::Global ? RTLD_GLOBAL : RTLD_LOCAL));
    if (handle == nullptr) {
        const char* why = ::dlerror();
        error = why != nullptr ? why : "cannot load " + path;
        return nullptr;
    }
    loaded.emplace(path, handle);
    return handle;
}

void* SharedLibrary::entry(void* handle, const char* name) {
    return handle != nullptr ? ::dlsym(handle, name) : nullptr;
}
