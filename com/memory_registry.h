// An in-memory registry behind the RegistryBackend interface, for tests of
// the registration walks and of the scripts themselves. Names compare
// without regard to ASCII case and keep the case they were created with,
// as in the system registry; the status codes are the Win32 ones for the
// same cases.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com/registry_script.h"

class MemoryRegistry : public RegistryBackend {
public:
    enum class Op { CreateKey, SetString, DeleteTree };

    MemoryRegistry();
    ~MemoryRegistry() override;

    uint32_t createKey(const std::string& path) override;
    uint32_t setString(const std::string& path, const std::string& valueName, const std::string& text) override;
    uint32_t deleteTree(const std::string& path) override;
    bool keyExists(const std::string& path) override;

    // A string value (empty name: the default value); false when the key or
    // the value does not exist.
    bool readString(const std::string& path, const std::string& valueName, std::string* text) const;

    // The whole tree, one key per line in full as "[A\B]", each followed by
    // its values ("@" is the default value), keys and values in name order
    // ignoring case; quotes and backslashes in values are escaped.
    std::string dump() const;

    // Makes every later call of op on this exact path (ignoring case) fail
    // with status and leave the tree unchanged.
    void failOn(Op op, const std::string& path, uint32_t status);
    // The paths of the calls made so far, as "create A\B", "set A\B @",
    // "delete A\B" (failed calls included).
    const std::vector<std::string>& calls() const { return calls_; }

private:
    struct NameLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    struct Node {
        std::map<std::string, std::string, NameLess> values;
        std::map<std::string, std::unique_ptr<Node>, NameLess> children;
    };
    struct Failure {
        Op op;
        std::string path;
        uint32_t status;
    };

    bool injected(Op op, const std::string& path, uint32_t* status) const;
    Node* find(const std::string& path) const;
    static void dumpNode(const Node& node, const std::string& path, std::string* out);

    std::unique_ptr<Node> root_;
    std::vector<Failure> failures_;
    std::vector<std::string> calls_;
};

// Splits a backslash-joined path; false for an empty path or an empty name.
bool splitRegistryPath(const std::string& path, std::vector<std::string>* names);
