// kestrel-register: registers the plug-in's two classes for one program folder,
// so the gateway running from that folder can create them by name.
//
//   kestrel-register <program folder> <library path>
//
// Writes the library path as the default value of
// HKEY_CLASSES_ROOT\<ProgID>\InprocServer32 for Kestrel.hspi and
// Kestrel.cFireCrackerUSB in <program folder>/Config/registry.reg, keeping
// everything else in that file. A relative library path is stored as given and
// taken below the program folder when the program loads it, so a folder that
// holds both the program and the library can be moved as a whole.
//
// Exit status: 0 registered, 1 the registry file could not be written, 2 usage.
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/ProgramFolder.h"
#include "binding/CreateObject.h"
#include "registry/Registry.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgIds[] = {"Kestrel.hspi", "Kestrel.cFireCrackerUSB"};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrel-register <program folder> <library path>\n");
        return 2;
    }
    const fs::path folder(argv[1]);
    const std::string libraryPath = argv[2];
    if (folder.empty() || libraryPath.empty()) {
        std::fprintf(stderr,
                     "kestrel-register: the program folder and the library path "
                     "must not be empty\n");
        return 2;
    }

    // Only a warning: a packager may register before the library is in place.
    fs::path library(ProgramFolder::mapPath(libraryPath));
    if (library.is_relative()) library = folder / library;
    std::error_code ec;
    if (!fs::exists(library, ec))
        std::fprintf(stderr, "kestrel-register: warning: %s does not exist (yet)\n",
                     library.c_str());

    Registry registry(folder / "Config" / "registry.reg");
    long result = Registry::ERROR_SUCCESS;
    {
        Registry::Batch batch(registry);
        for (const char* progId : kProgIds) {
            result = registerClass(registry, progId, libraryPath);
            if (result != Registry::ERROR_SUCCESS) break;
        }
        if (result == Registry::ERROR_SUCCESS) result = batch.commit();
    }
    if (result != Registry::ERROR_SUCCESS) {
        std::fprintf(stderr, "kestrel-register: cannot write %s: %s\n", registry.path().c_str(),
                     registry.lastError().empty() ? ("error " + std::to_string(result)).c_str()
                                                  : registry.lastError().c_str());
        return 1;
    }
    std::printf("kestrel-register: %s and %s use %s (%s)\n", kProgIds[0], kProgIds[1],
                libraryPath.c_str(), registry.path().c_str());
    return 0;
}
