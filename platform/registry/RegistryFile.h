#pragma once
// The registry's file format: the regedit export text, version 5 or REGEDIT4.
//
// Reading accepts what regedit and text editors save: UTF-16LE with its
// byte-order mark, UTF-8 with or without one, or single-byte Windows-1252; text
// reaches the tree as single-byte Windows-1252, the way Registry holds it. The
// file's lines are handed to a Sink in file order, so key removals and later
// lines apply on top of earlier ones as regedit would import them. A line that
// cannot be understood changes nothing and is returned as skipped.
//
// Writing produces a version 5 file in UTF-8: a RegistryFile object collects
// keys in the order they are added (parents before children, as regedit
// exports) and bytes() gives the file. Texts that a plain quoted value cannot
// carry, and other types without a form of their own, are written as hex lists
// wrapped the way regedit wraps them. No state beyond the object; no I/O.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/OrderedDictionary.h"
#include "registry/RegistryValue.h"

class RegistryFile {
public:
    // The tree a file is read into. Values go to the key last opened; after
    // openKey fails or removeKey is called no key is open and value lines are
    // skipped, so they cannot land in the key before a bad key line.
    class Sink {
    public:
        // Opens the key, creating it and the keys above it; false when the path
        // names no key (an unknown root, say).
        virtual bool openKey(std::string_view keyPath) = 0;
        // Removes the key with everything below it; false when that is refused.
        virtual bool removeKey(std::string_view keyPath) = 0;
        virtual void setValue(std::string_view name, RegistryValue value) = 0;
        virtual void removeValue(std::string_view name) = 0;

    protected:
        ~Sink() = default;
    };

    // Reads a file's bytes into tree; returns the lines skipped, as "line N: text".
    static std::vector<std::string> read(std::string_view fileBytes, Sink& tree);

    // Whether a key path or value name can be written: a line break would end
    // the line the file holds it on.
    static bool canHoldName(std::string_view name);

    // The REG_DWORD layout Registry holds (four bytes, little-endian), which a
    // dword: line carries as one hexadecimal number. dwordOf needs four bytes.
    static std::string dwordData(uint32_t n);
    static uint32_t dwordOf(std::string_view data);

    RegistryFile();
    // Adds a key line followed by the key's values in their order.
    void addKey(std::string_view keyPath, const OrderedDictionary<RegistryValue>& values);
    // The file's bytes (UTF-8) for the keys added so far.
    std::string bytes() const;

private:
    std::string m_text;  // single-byte, converted to UTF-8 by bytes()
};
