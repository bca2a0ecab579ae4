// The system registry behind the RegistryBackend interface (Windows trees
// only), and reading a registration script out of a module's resources.
#pragma once

#include <windows.h>

#include <string>

#include "com/registry_script.h"

// Keys below root\base (base may be empty: then directly below root). The
// servers use HKEY_CLASSES_ROOT with no base; tests use a sandbox key under
// HKEY_CURRENT_USER. Names are ANSI; the status codes are Win32 error codes.
class Win32Registry : public RegistryBackend {
public:
    Win32Registry(HKEY root, std::string base);

    uint32_t createKey(const std::string& path) override;
    uint32_t setString(const std::string& path, const std::string& valueName, const std::string& text) override;
    uint32_t deleteTree(const std::string& path) override;
    bool keyExists(const std::string& path) override;

private:
    std::string full(const std::string& path) const;

    HKEY root_;
    std::string base_;
};

// Copies the script resource of type "REGISTRY" with the given id out of
// module (null: the program's own file) into *text. False when the resource
// is missing or cannot be loaded.
bool loadScriptResource(HMODULE module, int id, std::string* text);
