// The system registry backend under a sandbox key of HKEY_CURRENT_USER:
// the builder's script, read from this program's own REGISTRY resource,
// registered, read back with the registry's own calls, registered again
// over strays and unregistered. The sandbox is removed at the end.
#include "com/registry_win32.h"

#include <gtest/gtest.h>

#include <string>

#include "support/platform.h"
#include "support/testing/scratch_dir.h"

namespace {

const char kModule[] = R"(C:\Program Files\Orvanta\Tollan.dll)";
const char kOurs[] = "CLSID\\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}";
const char kOther[] = "CLSID\\{11111111-2222-3333-4444-555555555555}";

class Win32RegistryTest : public ::testing::Test {
protected:
    Win32RegistryTest()
        : sandbox_("Software\\OrvantaRegTest-" + std::to_string(platform::processId())),
          reg_(HKEY_CURRENT_USER, sandbox_) {}
    void SetUp() override { removeSandbox(); }
    void TearDown() override {
        removeSandbox();
        EXPECT_FALSE(Win32Registry(HKEY_CURRENT_USER, "").keyExists(sandbox_));
    }
    void removeSandbox() { Win32Registry(HKEY_CURRENT_USER, "").deleteTree(sandbox_); }

    // A REG_SZ value read with the registry's own call; "<missing>" or
    // "<type N>" when it is not a string.
    std::string read(const std::string& path, const char* name) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (sandbox_ + "\\" + path).c_str(), 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS)
            return "<no key>";
        char buf[1024];
        DWORD type = 0, size = sizeof buf;
        LONG st = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
        RegCloseKey(key);
        if (st != ERROR_SUCCESS) return "<missing>";
        if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
        return std::string(buf, size && buf[size - 1] == 0 ? size - 1 : size);
    }

    std::string sandbox_;
    Win32Registry reg_;
};

TEST_F(Win32RegistryTest, BuilderScriptRegistersReregistersAndUnregisters) {
    std::string text;
    ASSERT_TRUE(loadScriptResource(nullptr, 102, &text));
    RegistryScript script;
    std::string error;
    ASSERT_TRUE(script.parse(text.data(), text.size(), &error)) << error;

    ASSERT_EQ(applyRegister(script, reg_, kModule), 0u);
    const std::string ours = kOurs;
    EXPECT_EQ(read("Tollan.Tollan.1", nullptr), "Tollan Class");
    EXPECT_EQ(read("Tollan.Tollan\\CurVer", nullptr), "Tollan.Tollan.1");
    EXPECT_EQ(read(ours, nullptr), "Tollan Class");
    EXPECT_EQ(read(ours + "\\InprocServer32", nullptr), kModule);
    EXPECT_EQ(read(ours + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(read(ours + "\\MiscStatus", nullptr), "0");
    EXPECT_EQ(read(ours + "\\MiscStatus\\1", nullptr), "132497");
    EXPECT_EQ(read(ours + "\\ToolboxBitmap32", nullptr), std::string(kModule) + ", 101");
    EXPECT_EQ(read(ours + "\\TypeLib", nullptr), "{89BE3C9F-BCC0-4A7A-939B-BC66E4D3CA19}");
    EXPECT_EQ(read(ours + "\\Programmable", nullptr), "<missing>");  // key only
    EXPECT_TRUE(reg_.keyExists("Tollan.Tollan.1\\Insertable"));

    // Strays: under the fresh class key (gone after registering again),
    // another class under the keep key and one under a ProgID key (both stay).
    ASSERT_EQ(reg_.createKey(ours + "\\Stray\\Deeper"), 0u);
    ASSERT_EQ(reg_.setString(ours + "\\InprocServer32", "Extra", "x"), 0u);
    ASSERT_EQ(reg_.createKey(std::string(kOther) + "\\InprocServer32"), 0u);
    ASSERT_EQ(reg_.setString(kOther, "", "Other Class"), 0u);
    ASSERT_EQ(reg_.createKey("Tollan.Tollan\\Stray"), 0u);
    ASSERT_EQ(applyRegister(script, reg_, kModule), 0u);
    EXPECT_FALSE(reg_.keyExists(ours + "\\Stray"));
    EXPECT_EQ(read(ours + "\\InprocServer32", "Extra"), "<missing>");
    EXPECT_EQ(read(ours + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(read(kOther, nullptr), "Other Class");
    EXPECT_TRUE(reg_.keyExists("Tollan.Tollan\\Stray"));

    EXPECT_EQ(applyUnregister(script, reg_), 0u);
    EXPECT_TRUE(reg_.keyExists("CLSID"));
    EXPECT_TRUE(reg_.keyExists(std::string(kOther) + "\\InprocServer32"));
    EXPECT_FALSE(reg_.keyExists(ours));
    EXPECT_FALSE(reg_.keyExists("Tollan.Tollan"));
    EXPECT_FALSE(reg_.keyExists("Tollan.Tollan.1"));
    // Again, with nothing of ours left.
    EXPECT_EQ(applyUnregister(script, reg_), 0u);
}

TEST_F(Win32RegistryTest, StatusCodesOfTheBackend) {
    EXPECT_EQ(reg_.deleteTree("Missing"), uint32_t(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(reg_.setString("Missing", "", "x"), uint32_t(ERROR_FILE_NOT_FOUND));
    // An empty path never reaches the registry (it would name the root).
    EXPECT_EQ(reg_.deleteTree(""), uint32_t(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(reg_.createKey(""), uint32_t(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(reg_.keyExists(""));

    ASSERT_EQ(reg_.createKey("A\\B\\C"), 0u);
    ASSERT_EQ(reg_.setString("A\\B", "V", "v"), 0u);
    EXPECT_EQ(reg_.deleteTree("A\\B"), 0u);
    EXPECT_FALSE(reg_.keyExists("A\\B"));
    EXPECT_TRUE(reg_.keyExists("A"));
}

TEST_F(Win32RegistryTest, ScriptResourceLookup) {
    std::string text = "unchanged";
    EXPECT_FALSE(loadScriptResource(nullptr, 999, &text));
    EXPECT_EQ(text, "unchanged");
    ASSERT_TRUE(loadScriptResource(GetModuleHandleA(nullptr), 102, &text));
    // The resource holds the file's bytes, nothing more.
    bool ok = false;
    EXPECT_EQ(text, readWholeFile(ORVANTA_TOLLAN_REGISTRY, &ok));
    EXPECT_TRUE(ok);
}

}  // namespace
