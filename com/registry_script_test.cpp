// The registration script: one parse error per message with its line, the
// accepted syntax, %MODULE% substitution, the register and unregister walks
// on the in-memory registry (order, failures, what stays), the builder's
// real script against its registry table, and robustness of the parser
// against cut and corrupted scripts.
#include "com/registry_script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "com/memory_registry.h"
#include "support/testing/scratch_dir.h"

namespace {

const char kModule[] = R"(C:\Program Files\Orvanta\Tollan.dll)";

// Parses from a heap copy of exactly the script's size, so that ASan sees
// any read past its end.
bool parseExact(const std::string& text, RegistryScript* script, std::string* error) {
    std::unique_ptr<char[]> copy(new char[text.size() ? text.size() : 1]);
    if (!text.empty()) std::memcpy(copy.get(), text.data(), text.size());
    return script->parse(copy.get(), text.size(), error);
}

std::string registered(const std::string& text, const char* module = kModule) {
    RegistryScript script;
    std::string error;
    EXPECT_TRUE(parseExact(text, &script, &error)) << error;
    MemoryRegistry reg;
    EXPECT_EQ(applyRegister(script, reg, module), regstatus::kOk);
    return reg.dump();
}

std::string builderScript() {
    bool ok = false;
    std::string text = readWholeFile(ORVANTA_TOLLAN_REGISTRY, &ok);
    EXPECT_TRUE(ok) << ORVANTA_TOLLAN_REGISTRY;
    return text;
}

TEST(RegistryScriptParse, EachErrorHasItsMessageAndLine) {
    struct Case {
        std::string script;
        const char* error;
    };
    const std::string longName(256, 'n');
    const Case cases[] = {
        {"key \"A\" = \"x", "line 1: unterminated string"},
        {"key \"A\"\n{ key \"B\" = \"x\ny\" }", "line 2: unterminated string"},
        {"key \"A\" = \"a\\", "line 1: unterminated string"},
        {"key \"A\" = \"a\\n\"", "line 1: unknown escape \\n (only \\\" and \\\\ exist)"},
        {std::string("key \"A\" = \"a\0b\"", 15), "line 1: zero byte in a string"},
        {"kee \"A\"", "line 1: unknown word 'kee'"},
        {"key \"A\"\n#", "line 2: unexpected character '#'"},
        {"\n\n\x01", "line 3: unexpected byte 0x01"},
        {"key \"A\"\n{\n  key \"B\"\n", "line 2: missing '}' to close the block opened here"},
        {"key \"A\" { }\n}", "line 2: '}' without an open block"},
        {"value \"A\" = \"x\"", "line 1: 'value' outside a key's block"},
        {"key \"A\" = key \"B\"", "line 1: '=' without a string after it"},
        {"key \"A\" {\n value \"V\" =\n}", "line 3: '=' without a string after it"},
        {"key \"A\" { key \"\" }", "line 1: empty key name"},
        {"key \"A\\\\B\"", "line 1: backslash in the key name \"A\\B\" (one key per statement)"},
        {"key \"" + longName + "\"", "line 1: key name longer than 255 characters"},
        {"key \"A\"\nkey \"a\"", "line 2: key \"a\" already appears on line 1"},
        {"key \"A\" = \"%PATH%\"", "line 1: unknown variable %PATH%"},
        {"key \"A\" = \"50% off\"",
         "line 1: '%' without a variable name and a closing '%' (a percent sign is written %%)"},
        {"key \"A\" = \"%\"", "line 1: '%' without a variable name and a closing '%' (a percent sign is written %%)"},
        {"key \"%MODULE%\"", "line 1: %MODULE% in a name (names are literal)"},
        {"key \"A\" { value \"%MODULE%\" = \"x\" }", "line 1: %MODULE% in a name (names are literal)"},
        {"; nothing but a comment\n", "line 2: the script has no statements"},
        {"", "line 1: the script has no statements"},
        {"key = \"x\"", "line 1: a quoted key name must follow 'key'"},
        {"keep\n", "line 2: a quoted key name must follow 'keep'"},
        {"key \"A\" { value = \"x\" }", "line 1: a quoted value name must follow 'value'"},
        {"key \"A\" { value \"\" = \"x\" }",
         "line 1: empty value name (a key's default value is given with '=' after its name)"},
        {"key \"A\" { value \"V\" \"x\" }", "line 1: '=' and a string must follow the value name"},
        {"key \"A\" {\n value \"V\" = \"1\"\n value \"v\" = \"2\"\n}", "line 3: value \"v\" set twice"},
        {"\"A\"", "line 1: a string where a statement should start"},
        {"key \"A\" = \"x\" = \"y\"", "line 1: '=' without a key or value before it"},
        {"{ }", "line 1: '{' without a key before it"},
        {"key \"A\"\r\n\r\nbad", "line 3: unknown word 'bad'"},
        {"; \"quote in a comment\nkey \"A\" = \"x ; not a comment\"\nkey \"B\" = \"y", "line 3: unterminated string"},
    };
    for (const Case& c : cases) {
        RegistryScript script;
        std::string error;
        EXPECT_FALSE(parseExact(c.script, &script, &error)) << c.script;
        EXPECT_EQ(error, c.error) << c.script;
        EXPECT_TRUE(script.keys().empty());
    }
}

TEST(RegistryScriptParse, NestingLimitAndNameLengthLimitAreExact) {
    auto nested = [](unsigned blocks) {
        std::string s;
        for (unsigned i = 0; i < blocks; i++) s += "key \"k\" {\n";
        s += "key \"leaf\"\n";
        for (unsigned i = 0; i < blocks; i++) s += "}\n";
        return s;
    };
    RegistryScript script;
    std::string error;
    EXPECT_TRUE(parseExact(nested(RegistryScript::kMaxDepth), &script, &error)) << error;
    EXPECT_FALSE(parseExact(nested(RegistryScript::kMaxDepth + 1), &script, &error));
    EXPECT_EQ(error, "line 33: blocks nested deeper than 32 levels");
    // Thousands of open blocks stop at the limit instead of using up the stack.
    EXPECT_FALSE(parseExact(nested(100000), &script, &error));
    EXPECT_EQ(error, "line 33: blocks nested deeper than 32 levels");

    EXPECT_TRUE(parseExact("key \"" + std::string(255, 'n') + "\"", &script, &error)) << error;
}

TEST(RegistryScriptParse, AcceptedSyntax) {
    // A byte order mark, comments everywhere, one-line and multi-line blocks,
    // escapes, %% and a keep with a default value.
    const std::string text =
        "\xEF\xBB\xBF; header\n"
        "keep \"Root\" = \"r\" {  ; comment after a brace\n"
        "  key \"Q\\\"uote\" = \"say \\\"hi\\\" \\\\ 100%%\" { value \"Name;x\" = \"a;b\" }\n"
        "  fresh \"F\"{key\"G\"}\n"
        "}\n"
        "key \"Second\"";
    EXPECT_EQ(registered(text),
              "[Root]\n"
              "@=\"r\"\n"
              "[Root\\F]\n"
              "[Root\\F\\G]\n"
              "[Root\\Q\"uote]\n"
              "@=\"say \\\"hi\\\" \\\\ 100%\"\n"
              "\"Name;x\"=\"a;b\"\n"
              "[Second]\n");
    RegistryScript script;
    std::string error;
    ASSERT_TRUE(parseExact(text, &script, &error));
    ASSERT_EQ(script.keys().size(), 2u);
    EXPECT_EQ(script.keys()[0].kind, ScriptKeyKind::Keep);
    EXPECT_EQ(script.keys()[0].children[1].kind, ScriptKeyKind::Fresh);
    EXPECT_EQ(script.keys()[1].line, 6u);
    EXPECT_FALSE(script.usesModule());
}

TEST(RegistryScriptModule, PathIsInsertedVerbatim) {
    const char* const modules[] = {
        R"(C:\Program Files\Orvanta\Tollan.dll)",
        R"(C:\odd "quoted" dir\x.dll)",
        R"(C:\100%\%MODULE%\%%\x.dll)",  // never scanned for variables
        R"(\\server\share\a b\x.dll)",
    };
    const std::string text = "key \"A\" = \"%MODULE%\" { value \"V\" = \"%%MODULE%% \\\"%MODULE%, 101\\\"\" }";
    RegistryScript script;
    std::string error;
    ASSERT_TRUE(parseExact(text, &script, &error)) << error;
    EXPECT_TRUE(script.usesModule());
    for (const char* m : modules) {
        MemoryRegistry reg;
        ASSERT_EQ(applyRegister(script, reg, m), regstatus::kOk);
        std::string v;
        ASSERT_TRUE(reg.readString("A", "", &v));
        EXPECT_EQ(v, m);
        ASSERT_TRUE(reg.readString("A", "V", &v));
        EXPECT_EQ(v, std::string("%MODULE% \"") + m + ", 101\"");
    }
}

TEST(RegistryScriptModule, MissingModulePathWritesNothing) {
    RegistryScript script;
    std::string error;
    ASSERT_TRUE(parseExact("key \"A\"\nkey \"B\" = \"%MODULE%\"", &script, &error)) << error;
    for (const char* m : {static_cast<const char*>(nullptr), ""}) {
        MemoryRegistry reg;
        EXPECT_EQ(applyRegister(script, reg, m), regstatus::kInvalidParameter);
        EXPECT_EQ(reg.dump(), "");
    }
    // A script without %MODULE% needs none.
    ASSERT_TRUE(parseExact("key \"A\" = \"x\"", &script, &error));
    MemoryRegistry reg;
    EXPECT_EQ(applyRegister(script, reg, nullptr), regstatus::kOk);
    EXPECT_EQ(reg.dump(), "[A]\n@=\"x\"\n");
}

const char kKinds[] =
    "key \"K\" = \"k\" { key \"Child\" }\n"
    "keep \"P\" { fresh \"F\" = \"f\" { value \"V\" = \"new\" } key \"C\" }\n";

TEST(RegistryScriptWalk, FreshReplacesKeyAndKeepMerge) {
    RegistryScript script;
    std::string error;
    ASSERT_TRUE(parseExact(kKinds, &script, &error)) << error;
    MemoryRegistry reg;
    reg.createKey("K\\Old");
    reg.createKey("P\\Other");
    reg.createKey("P\\F\\Old");
    reg.setString("P\\F", "V", "old");
    reg.setString("P\\F", "W", "old");
    reg.setString("P", "", "foreign");
    ASSERT_EQ(applyRegister(script, reg, kModule), regstatus::kOk);
    const std::string once = reg.dump();
    EXPECT_EQ(once,
              "[K]\n@=\"k\"\n[K\\Child]\n[K\\Old]\n"
              "[P]\n@=\"foreign\"\n[P\\C]\n[P\\F]\n@=\"f\"\n\"V\"=\"new\"\n[P\\Other]\n");
    // Registering again changes nothing.
    ASSERT_EQ(applyRegister(script, reg, kModule), regstatus::kOk);
    EXPECT_EQ(reg.dump(), once);

    EXPECT_EQ(applyUnregister(script, reg), regstatus::kOk);
    EXPECT_EQ(reg.dump(), "[P]\n@=\"foreign\"\n[P\\Other]\n");
    // Nothing left to remove is not a failure.
    EXPECT_EQ(applyUnregister(script, reg), regstatus::kOk);
    EXPECT_EQ(reg.dump(), "[P]\n@=\"foreign\"\n[P\\Other]\n");
}

TEST(RegistryScriptWalk, RegistrationStopsAtTheFirstFailure) {
    RegistryScript script;
    std::string error;
    ASSERT_TRUE(parseExact(kKinds, &script, &error)) << error;
    struct Case {
        MemoryRegistry::Op op;
        const char* path;
        const char* lastCall;
        const char* dump;
    };
    const Case cases[] = {
        {MemoryRegistry::Op::CreateKey, "K\\Child", "create K\\Child", "[K]\n@=\"k\"\n"},
        {MemoryRegistry::Op::SetString, "K", "set K @", "[K]\n"},
        // A fresh key that cannot be deleted is not created over its old self.
        {MemoryRegistry::Op::DeleteTree, "P\\F", "delete P\\F", "[K]\n@=\"k\"\n[K\\Child]\n[P]\n"},
        // Paths match ignoring case; everything before the failure is done.
        {MemoryRegistry::Op::CreateKey, "p\\c", "create P\\C",
         "[K]\n@=\"k\"\n[K\\Child]\n[P]\n[P\\F]\n@=\"f\"\n\"V\"=\"new\"\n"},
    };
    for (const Case& c : cases) {
        MemoryRegistry reg;
        reg.failOn(c.op, c.path, regstatus::kAccessDenied);
        EXPECT_EQ(applyRegister(script, reg, kModule), regstatus::kAccessDenied) << c.path;
        ASSERT_FALSE(reg.calls().empty());
        EXPECT_EQ(reg.calls().back(), c.lastCall);
        EXPECT_EQ(reg.dump(), c.dump) << c.path;
    }
}

TEST(RegistryScriptWalk, UnregistrationGoesOnPastFailures) {
    RegistryScript script;
    std::string error;
    ASSERT_TRUE(parseExact(kKinds, &script, &error)) << error;
    MemoryRegistry reg;
    ASSERT_EQ(applyRegister(script, reg, kModule), regstatus::kOk);
    reg.failOn(MemoryRegistry::Op::DeleteTree, "K", regstatus::kAccessDenied);
    reg.failOn(MemoryRegistry::Op::DeleteTree, "P\\C", regstatus::kInvalidParameter);
    EXPECT_EQ(applyUnregister(script, reg), regstatus::kAccessDenied);  // the first one
    EXPECT_EQ(reg.dump(), "[K]\n@=\"k\"\n[K\\Child]\n[P]\n[P\\C]\n");
    const std::vector<std::string> calls(reg.calls().end() - 3, reg.calls().end());
    EXPECT_EQ(calls, (std::vector<std::string>{"delete K", "delete P\\F", "delete P\\C"}));
}

TEST(BuilderRegistryScript, RegistersTheTableAndUnregistersOnlyItsOwn) {
    RegistryScript script;
    std::string error;
    ASSERT_TRUE(script.parse(builderScript().data(), builderScript().size(), &error)) << error;

    MemoryRegistry reg;
    // Another class, an earlier registration of ours with a stray subkey and
    // another threading model, and strays under the ProgID keys.
    const char kOther[] = "CLSID\\{11111111-2222-3333-4444-555555555555}";
    const char kOurs[] = "CLSID\\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}";
    reg.createKey(std::string(kOther) + "\\InprocServer32");
    reg.setString(kOther, "", "Other Class");
    reg.setString(std::string(kOther) + "\\InprocServer32", "", "C:\\other.dll");
    reg.createKey(std::string(kOurs) + "\\Stray");
    reg.createKey(std::string(kOurs) + "\\InprocServer32");
    reg.setString(std::string(kOurs) + "\\InprocServer32", "ThreadingModel", "Both");
    reg.createKey("Tollan.Tollan\\Stray");
    reg.createKey("Tollan.Tollan.1\\CLSID");
    reg.setString("Tollan.Tollan.1\\CLSID", "", "{00000000-0000-0000-0000-000000000000}");

    ASSERT_EQ(applyRegister(script, reg, kModule), regstatus::kOk);
    EXPECT_EQ(reg.dump(), R"([CLSID]
[CLSID\{11111111-2222-3333-4444-555555555555}]
@="Other Class"
[CLSID\{11111111-2222-3333-4444-555555555555}\InprocServer32]
@="C:\\other.dll"
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}]
@="Tollan Class"
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\Control]
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\InprocServer32]
@="C:\\Program Files\\Orvanta\\Tollan.dll"
"ThreadingModel"="Apartment"
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\Insertable]
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\MiscStatus]
@="0"
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\MiscStatus\1]
@="132497"
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\ProgID]
@="Tollan.Tollan.1"
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\Programmable]
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\ToolboxBitmap32]
@="C:\\Program Files\\Orvanta\\Tollan.dll, 101"
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\TypeLib]
@="{89BE3C9F-BCC0-4A7A-939B-BC66E4D3CA19}"
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\Version]
@="1.0"
[CLSID\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}\VersionIndependentProgID]
@="Tollan.Tollan"
[Tollan.Tollan]
@="Tollan Class"
[Tollan.Tollan\CLSID]
@="{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}"
[Tollan.Tollan\CurVer]
@="Tollan.Tollan.1"
[Tollan.Tollan\Stray]
[Tollan.Tollan.1]
@="Tollan Class"
[Tollan.Tollan.1\CLSID]
@="{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}"
[Tollan.Tollan.1\Insertable]
)");

    EXPECT_EQ(applyUnregister(script, reg), regstatus::kOk);
    EXPECT_EQ(reg.dump(), R"([CLSID]
[CLSID\{11111111-2222-3333-4444-555555555555}]
@="Other Class"
[CLSID\{11111111-2222-3333-4444-555555555555}\InprocServer32]
@="C:\\other.dll"
)");
}

// Every prefix of the real script parses cleanly or fails cleanly; a prefix
// that parses registers a part of what the whole script registers.
TEST(BuilderRegistryScript, EveryTruncationIsACleanErrorOrAPart) {
    const std::string text = builderScript();
    RegistryScript whole;
    std::string error;
    ASSERT_TRUE(parseExact(text, &whole, &error)) << error;
    MemoryRegistry full;
    ASSERT_EQ(applyRegister(whole, full, kModule), regstatus::kOk);

    size_t parsed = 0;
    for (size_t len = 0; len < text.size(); len++) {
        RegistryScript script;
        error.clear();
        if (!parseExact(text.substr(0, len), &script, &error)) {
            EXPECT_EQ(error.compare(0, 5, "line "), 0) << len;
            continue;
        }
        parsed++;
        MemoryRegistry part;
        ASSERT_EQ(applyRegister(script, part, kModule), regstatus::kOk) << len;
        // Each key line and value line of the part is one of the whole's
        // lines under the same key.
        std::string dump = part.dump(), key;
        for (size_t at = 0; at < dump.size();) {
            size_t end = dump.find('\n', at);
            std::string line = dump.substr(at, end - at);
            at = end + 1;
            if (line[0] == '[') {
                key = line.substr(1, line.size() - 2);
                EXPECT_TRUE(full.keyExists(key)) << len << " " << key;
                continue;
            }
            size_t eq = line.find("\"=\"") != std::string::npos ? line.find("\"=\"") + 1 : 1;
            std::string name = line[0] == '@' ? "" : line.substr(1, eq - 2), want, got;
            ASSERT_TRUE(full.readString(key, name, &want)) << len << " " << line;
            ASSERT_TRUE(part.readString(key, name, &got));
            EXPECT_EQ(got, want) << len << " " << line;
        }
    }
    EXPECT_GT(parsed, 0u);
}

// Each byte replaced by a few telling ones: never a crash, and whatever
// parses can be registered (names are valid).
TEST(BuilderRegistryScript, CorruptedBytesParseOrFailCleanly) {
    const std::string text = builderScript();
    const char replacements[] = {'"', '{', '}', '\\', '%', '\0', '\n', '\xFF', ';', '='};
    for (size_t i = 0; i < text.size(); i++) {
        for (char r : replacements) {
            std::string bad = text;
            bad[i] = r;
            RegistryScript script;
            std::string error;
            if (parseExact(bad, &script, &error)) {
                MemoryRegistry reg;
                EXPECT_EQ(applyRegister(script, reg, kModule), regstatus::kOk) << i;
                applyUnregister(script, reg);
            } else {
                EXPECT_EQ(error.compare(0, 5, "line "), 0) << i;
            }
        }
    }
}

}  // namespace
