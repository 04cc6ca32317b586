// The transceiver plug-in library. Its creatable classes are added to the
// factory as they are built; until then the library exports the factory alone.
extern "C" __attribute__((visibility("default"))) void* kestrel_create(const char* /*className*/) {
    return nullptr;
}
