// Fuzzes the registration script parser and the two walks. The input is
// the script text.
// Properties checked (a failure aborts):
//   - a refused script has an error "line N: ..." and no keys;
//   - an accepted script registers without failure into an in-memory
//     registry, and registering it again leaves the same tree;
//   - after unregistration no `key` or `fresh` key of the script is left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "com/memory_registry.h"
#include "com/registry_script.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void checkRemoved(const std::vector<ScriptKey>& keys, const std::string& parent, MemoryRegistry& reg) {
    for (const ScriptKey& k : keys) {
        std::string path = parent.empty() ? k.name : parent + "\\" + k.name;
        if (k.kind == ScriptKeyKind::Keep)
            checkRemoved(k.children, path, reg);
        else
            check(!reg.keyExists(path));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RegistryScript script;
    std::string error;
    if (!script.parse(reinterpret_cast<const char*>(data), size, &error)) {
        check(error.compare(0, 5, "line ") == 0 && script.keys().empty());
        return 0;
    }
    MemoryRegistry reg;
    check(applyRegister(script, reg, "C:\\dir with space\\100%\\x.dll") == regstatus::kOk);
    std::string once = reg.dump();
    check(applyRegister(script, reg, "C:\\dir with space\\100%\\x.dll") == regstatus::kOk);
    check(reg.dump() == once);
    check(applyUnregister(script, reg) == regstatus::kOk);
    checkRemoved(script.keys(), std::string(), reg);
    return 0;
}
