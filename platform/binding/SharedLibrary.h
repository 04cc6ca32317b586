#pragma once
// Shared libraries loaded at run time, for good: class libraries, and the
// modules the program and the plug-in load only where there is a display.
// A library is loaded once per path and never unloaded, since its objects and
// code may be referenced anywhere; loading it again gives the same handle.

#include <string>

class SharedLibrary {
public:
    // Global: the library's symbols also serve libraries loaded after it.
    enum class Scope { Local, Global };

    // The library's handle, or null with the loader's reason in `error`.
    static void* load(const std::string& path, Scope scope, std::string& error);
    // An exported entry point of a loaded library, or null.
    static void* entry(void* handle, const char* name);
};
