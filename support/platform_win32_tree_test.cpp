// The Win32 output tree, file identity and regular files, built into the
// Windows trees only: names checked through the wide-character API, long
// paths, replacing renames, attributes, links below the root refused.
#include "support/platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using platform::FileHandle;
using platform::kInvalidFile;
using platform::NodeInfo;
using platform::NodeKind;

std::wstring fromUtf8(const std::string& s) {
    std::wstring w(s.size(), L'\0');
    w.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], int(w.size()))));
    return w;
}

// Removes a file or a folder with everything in it; a link goes, its target stays.
void removeAll(const std::wstring& p) {
    DWORD a = GetFileAttributesW(p.c_str());
    SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    WIN32_FIND_DATAW d;
    HANDLE f = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? INVALID_HANDLE_VALUE : FindFirstFileW((p + L"\\*").c_str(), &d);
    for (BOOL more = f != INVALID_HANDLE_VALUE; more; more = FindNextFileW(f, &d))
        if (wcscmp(d.cFileName, L".") && wcscmp(d.cFileName, L"..")) removeAll(p + L"\\" + d.cFileName);
    if (f != INVALID_HANDLE_VALUE) FindClose(f);
    if (a != INVALID_FILE_ATTRIBUTES) (a & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(p.c_str()) : DeleteFileW(p.c_str());
}

// A fresh folder under the temporary folder, opened as an output tree.
class TreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmp[MAX_PATH + 1];
        ASSERT_GT(GetTempPathA(sizeof tmp, tmp), 0u);
        root_ = tmp + ("orv-tree-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()));
        ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
        ASSERT_TRUE(tree_.open(root_.c_str()));
    }
    void TearDown() override {
        tree_.close();
        if (!onHost(L"rm -rf \\\"$1\\\"", [&] { return GetFileAttributesW(at("").c_str()) == INVALID_FILE_ATTRIBUTES; }))
            removeAll(at(""));
    }
    // The system's name for rel, in the long form so that any length works.
    std::wstring at(const std::string& rel) const {
        std::wstring w = L"\\\\?\\" + fromUtf8(root_ + (rel.empty() ? "" : "\\" + rel));
        for (wchar_t& c : w) c = c == L'/' ? L'\\' : c;
        return w;
    }
    std::string contents(const std::string& rel) const {
        HANDLE h = CreateFileW(at(rel).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "<missing>";
        char buf[256];
        DWORD got = 0;
        std::string s = ReadFile(h, buf, sizeof buf, &got, nullptr) ? std::string(buf, got) : "<unreadable>";
        CloseHandle(h);
        return s;
    }
    bool create(const std::string& rel, const std::string& text, platform::FileId* id = nullptr) {
        FileHandle h = tree_.createFile(rel.c_str(), false);
        uint32_t written = 0;
        bool ok = h != kInvalidFile && platform::writeFile(h, text.data(), uint32_t(text.size()), &written) &&
                  (!id || platform::fileIdOfHandle(h, id));
        platform::closeFile(h);
        return ok;
    }
    NodeKind kind(const std::string& rel) {
        NodeInfo info;
        return tree_.examine(rel.c_str(), &info) ? info.kind : NodeKind::Other;
    }
    // Runs a program of the host with the root's host path as $1 (only
    // under Wine, which shows the host's links as reparse points but makes
    // none itself and removes a link's target with the link). It runs
    // detached: done() is awaited.
    bool onHost(const std::wstring& script, const std::function<bool()>& done) {
        auto unixName = reinterpret_cast<char*(CDECL*)(LPCWSTR)>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
        char* base = unixName ? unixName(at("").c_str()) : nullptr;
        if (!base) return false;
        std::wstring cmd = L"sh -c \"" + script + L"\" sh \"" + fromUtf8(base) + L"\"";
        HeapFree(GetProcessHeap(), 0, base);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi;
        if (!CreateProcessW(L"Z:\\bin\\sh", &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return false;
        for (int i = 0; i < 250 && !done(); i++) Sleep(20);
        return done();
    }
    // A symbolic link at rel to target (both below the root).
    bool makeLink(const std::string& rel, const std::string& target, bool folder) {
        std::wstring link = at(rel);
        auto there = [&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; };
        return (CreateSymbolicLinkW(link.c_str(), at(target).c_str(), folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) &&
                there()) ||
               onHost(L"ln -s \\\"$1/" + fromUtf8(target) + L"\\\" \\\"$1/" + fromUtf8(rel) + L"\\\"", there);
    }

    std::string root_;
    platform::OutputTree tree_;
};

TEST_F(TreeTest, UnicodeAndLongNamesRoundTrip) {
    const std::string deep = std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(100, 'c');
    struct {
        std::string folder, name, renamed;
    } const cases[] = {
        {"", u8"naïve ✓.txt", u8"naïve ✓ done.txt"},
        {u8"日本語", u8"ファイル.txt", u8"済み.txt"},
        {"", u8"emoji 😀.txt", u8"😀😀.txt"},
        {deep + u8"/é", u8"long ✓.txt", u8"longer ✓✓.txt"},  // beyond MAX_PATH
    };
    for (const auto& c : cases) {
        std::string dir = c.folder.empty() ? "" : c.folder + "/", from = dir + c.name, to = dir + c.renamed;
        SCOPED_TRACE(from);
        ASSERT_TRUE(dir.empty() || tree_.makeFolders(c.folder.c_str()));
        platform::FileId made;
        ASSERT_TRUE(create(from, c.name, &made));
        EXPECT_EQ(contents(from), c.name);  // the system sees the same name
        ASSERT_TRUE(tree_.rename(from.c_str(), to.c_str(), false));
        NodeInfo info;
        ASSERT_TRUE(tree_.examine(to.c_str(), &info));
        EXPECT_EQ(info.kind, NodeKind::File);
        EXPECT_EQ(info.id, made);
        EXPECT_EQ(kind(from), NodeKind::Missing);
        EXPECT_EQ(contents(to), c.name);
    }
}

TEST_F(TreeTest, RenameWithAndWithoutReplacing) {
    enum Target { None, Plain, ReadOnly, Folder };
    struct {
        bool replace;
        Target target;
        bool sourceThere, ok;
    } const cases[] = {
        {false, None, true, true}, {false, Plain, true, false}, {true, None, true, true},
        {true, Plain, true, true}, {true, ReadOnly, true, true}, {true, Folder, true, false},
        {true, ReadOnly, false, false},  // the move fails: the target stays read-only
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string from = "from" + std::to_string(n), to = "to" + std::to_string(n++);
        SCOPED_TRACE(to);
        ASSERT_TRUE(c.target != Folder || tree_.makeFolders(to.c_str()));
        ASSERT_TRUE((c.target != Plain && c.target != ReadOnly) || create(to, "old"));
        ASSERT_TRUE(c.target != ReadOnly || SetFileAttributesW(at(to).c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(!c.sourceThere || create(from, "new"));
        EXPECT_EQ(tree_.rename(from.c_str(), to.c_str(), c.replace), c.ok);
        EXPECT_TRUE(c.replace || c.target != Plain || platform::lastError() == platform::errorFileExists());
        EXPECT_EQ(contents(to), c.ok ? "new" : c.target == Folder ? "<missing>" : "old");
        EXPECT_EQ(contents(from), c.ok || !c.sourceThere ? "<missing>" : "new");
        EXPECT_TRUE(c.ok || c.target != ReadOnly || (GetFileAttributesW(at(to).c_str()) & FILE_ATTRIBUTE_READONLY));
    }
}

TEST_F(TreeTest, FitsCountsUtf16Units) {
    std::string emoji, accents, deep;
    for (int i = 0; i < 128; i++) emoji += u8"😀";  // 256 units in 512 bytes
    for (int i = 0; i < 255; i++) accents += u8"é";  // 255 units in 510 bytes
    for (int i = 0; i < 130; i++) deep += std::string(254, 'd') + "/";
    struct {
        std::string rel;
        uint32_t error;  // 0: fits
    } const cases[] = {
        {std::string(255, 'a'), 0}, {accents + "/" + accents, 0},
        {std::string(256, 'a'), platform::errorNameTooLong()}, {emoji, platform::errorNameTooLong()},
        {deep + "f", platform::errorNameTooLong()},  // beyond 32767 units
        {"bad\xff", ERROR_NO_UNICODE_TRANSLATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rel.substr(0, 20));
        EXPECT_EQ(tree_.fits(c.rel.c_str()), c.error == 0);
        EXPECT_EQ(c.error ? platform::lastError() : 0, c.error);
    }
}

TEST_F(TreeTest, ExamineAndCreate) {
    ASSERT_TRUE(tree_.makeFolders("sub/deeper"));
    ASSERT_TRUE(create("file.txt", "left by an interrupted run"));
    struct {
        const char* rel;
        bool ok;
        NodeKind kind;
        uint32_t error;
    } const cases[] = {
        {"sub/deeper", true, NodeKind::Folder, 0},  {"file.txt", true, NodeKind::File, 0},
        {"missing/x", true, NodeKind::Missing, 0},  {"sub/missing/x", true, NodeKind::Missing, 0},
        {"file.txt/x", false, NodeKind::Missing, ERROR_DIRECTORY},
        {"../outside", false, NodeKind::Missing, ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rel);
        NodeInfo info;
        EXPECT_EQ(tree_.examine(c.rel, &info), c.ok);
        EXPECT_EQ(info.kind, c.kind);
        EXPECT_EQ(c.error ? platform::lastError() : 0, c.error);
    }
    EXPECT_FALSE(tree_.makeFolders("file.txt/x"));
    EXPECT_EQ(tree_.createFile("file.txt", false), kInvalidFile);
    EXPECT_EQ(platform::lastError(), platform::errorFileExists());
    EXPECT_EQ(tree_.createFile("sub", true), kInvalidFile);  // a folder is never taken
    FileHandle h = tree_.createFile("file.txt", true);
    EXPECT_NE(h, kInvalidFile);
    platform::closeFile(h);
    EXPECT_EQ(contents("file.txt"), "");
}

// Links below the root: a folder link in a path is refused; a file link's
// name is taken or replaced as itself, also where it shows as a plain file
// (Wine); the targets are never written.
TEST_F(TreeTest, LinksBelowTheRootAreNeverFollowed) {
    ASSERT_TRUE(tree_.makeFolders("real"));
    ASSERT_TRUE(create("real.txt", "target"));
    ASSERT_TRUE(create("a.txt", "a"));
    ASSERT_TRUE(create("b.txt", "b"));
    if (!makeLink("link", "real", true) || !(GetFileAttributesW(at("link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !makeLink("reused", "real.txt", false) || !makeLink("replaced", "real.txt", false))
        GTEST_SKIP() << "this system cannot make links here";
    const uint32_t viaLink = platform::errorLinkInPath();
    FileHandle h = kInvalidFile;
    NodeInfo info;
    struct {
        const char* what;
        std::function<bool()> run;
        uint32_t error;
    } const cases[] = {
        {"examine below", [&] { return tree_.examine("link/x", &info); }, viaLink},
        {"make below", [&] { return tree_.makeFolders("link/new/deeper"); }, viaLink},
        {"create below", [&] { return (h = tree_.createFile("link/x", false)) != kInvalidFile; }, viaLink},
        {"reuse the link", [&] { return (h = tree_.createFile("link", true)) != kInvalidFile; },
         platform::errorFileExists()},
        {"rename below", [&] { return tree_.rename("a.txt", "link/a.txt", true); }, viaLink},
        {"folder times", [&] { return tree_.setFolderTimes("link", (40 << 9) | (1 << 5) | 1, 0); }, viaLink},
        {"folder attributes", [&] { return tree_.setFolderAttributes("link", FILE_ATTRIBUTE_HIDDEN); }, viaLink},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(c.run());
        EXPECT_EQ(platform::lastError(), c.error);
        platform::closeFile(h);
        h = kInvalidFile;
    }
    EXPECT_EQ(GetFileAttributesW(at("real").c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY));  // untouched, empty
    EXPECT_EQ(kind("real/new"), NodeKind::Missing);
    EXPECT_EQ(kind("real/x"), NodeKind::Missing);
    EXPECT_EQ(kind("link"), NodeKind::Link);
    platform::closeFile(tree_.createFile("reused", true));
    ASSERT_TRUE(tree_.rename("b.txt", "replaced", true));
    EXPECT_EQ(contents("replaced"), "b");
    EXPECT_EQ(contents("real.txt"), "target");
}

TEST_F(TreeTest, TimesAndAttributes) {
    ASSERT_TRUE(tree_.makeFolders(u8"ü/v"));
    const uint16_t date = (25 << 9) | (7 << 5) | 14, time = (9 << 11) | (30 << 5) | 5;
    ASSERT_TRUE(tree_.setFolderTimes(u8"ü/v", date, time));
    WIN32_FILE_ATTRIBUTE_DATA d;
    FILETIME local;
    WORD got[2] = {};
    ASSERT_TRUE(GetFileAttributesExW(at(u8"ü/v").c_str(), GetFileExInfoStandard, &d));
    ASSERT_TRUE(FileTimeToLocalFileTime(&d.ftLastWriteTime, &local) && FileTimeToDosDateTime(&local, &got[0], &got[1]));
    EXPECT_EQ(got[0], date);
    EXPECT_EQ(got[1], time);
    EXPECT_FALSE(tree_.setFolderTimes(u8"ü/v", (25 << 9) | (2 << 5) | 30, 0));  // 30 February

    // Folder attributes (0 leaves them), then a file's through its handle,
    // keeping the protection of the file it replaces. Compared without
    // archive, which Wine shows on every file, and without read-only on
    // folders, which Wine does not keep.
    const uint32_t none = ~0u, mask = 0x106;
    struct {
        const char* rel;
        uint32_t dos, kept, expected;
    } const cases[] = {
        {u8"ü/v", 0x02 | 0x04, none, 0x06},       {u8"ü/v", 0, none, 0x06},
        {u8"ü/v", 0x20, none, 0},                 {"f0", 0x01 | 0x40, none, 0x01},
        {"f1", 0x02, 0x01 | 0x04 | 0x100, 0x07},  {"f2", 0x20, 0x100, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rel + std::to_string(c.dos));
        bool folder = c.rel[0] != 'f';
        uint32_t m = folder ? mask : mask | 0x01;
        NodeInfo keep;
        keep.permissions = c.kept;
        FileHandle h = folder ? kInvalidFile : tree_.createFile(c.rel, false);
        EXPECT_TRUE(folder ? tree_.setFolderAttributes(c.rel, c.dos)
                           : platform::setHandleAttributes(h, c.dos, c.kept == none ? nullptr : &keep));
        platform::closeFile(h);
        EXPECT_EQ(GetFileAttributesW(at(c.rel).c_str()) & m, c.expected);
    }
    EXPECT_FALSE(tree_.setFolderAttributes(u8"ü/none", FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(TreeTest, RegularFilesAndIdentity) {
    ASSERT_TRUE(create("f", "12345") && tree_.makeFolders("d"));
    std::string f = root_ + "\\f", d = root_ + "\\d", hard = root_ + "\\hard";
    ASSERT_TRUE(CreateHardLinkA(hard.c_str(), f.c_str(), nullptr));
    for (const std::string& p : {f, d, std::string("NUL"), root_ + "\\missing"}) {
        uint64_t size = 0;
        FileHandle h = platform::openRegularFile(p.c_str(), &size);
        uint32_t error = p == f ? 0 : p.back() == 'g' ? ERROR_FILE_NOT_FOUND : platform::errorNotRegularFile();
        EXPECT_EQ(h == kInvalidFile ? platform::lastError() : 0, error) << p;
        EXPECT_EQ(size, error ? 0u : 5u) << p;
        platform::closeFile(h);
    }
    EXPECT_EQ(platform::nodeKind(d.c_str()), NodeKind::Folder);
    platform::FileId a, b, folder;
    ASSERT_TRUE(platform::fileIdOf(f.c_str(), &a) && platform::fileIdOf(hard.c_str(), &b) &&
                platform::fileIdOf(d.c_str(), &folder));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, folder);
}

}  // namespace
