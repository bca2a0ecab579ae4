#include "support/replacing_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "support/testing/scratch_dir.h"

namespace {

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    platform::listDirectory(
        folder.c_str(),
        [](void* context, const char* name, bool) {
            static_cast<std::vector<std::string>*>(context)->push_back(name);
            return true;
        },
        &names);
    std::sort(names.begin(), names.end());
    return names;
}

void writeAll(platform::FileHandle h, const std::string& bytes) {
    uint32_t written = 0;
    ASSERT_TRUE(platform::writeFile(h, bytes.data(), uint32_t(bytes.size()), &written));
    ASSERT_EQ(written, bytes.size());
}

}  // namespace

// Each way a writing can end: the target afterwards and nothing else left
// in its folder.
TEST(ReplacingOutput, OnlyACommitReplacesTheTarget) {
    enum End { Commit, Abandon, Destroy };
    struct Case {
        const char* what;
        bool targetExists;
        End end;
        const char* expected;  // the target's contents afterwards; null: absent
    } cases[] = {
        {"commit over an old file", true, Commit, "new"},
        {"commit of a new file", false, Commit, "new"},
        {"abandon keeps the old file", true, Abandon, "old"},
        {"abandon of a new file leaves none", false, Abandon, nullptr},
        {"destruction abandons", true, Destroy, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string target = dir.file("out.zip");
        if (c.targetExists) dir.write("out.zip", "old");
        dir.track(target);
        {
            ReplacingOutput out;
            std::string error;
            ASSERT_TRUE(out.begin(target.c_str(), &error)) << error;
            ASSERT_TRUE(out.active());
            EXPECT_NE(out.path(), target);
            EXPECT_EQ(out.path().compare(0, dir.path().size(), dir.path()), 0) << "the temporary lies beside the target";
            platform::FileInfo info;
            EXPECT_TRUE(platform::fileInfo(out.path().c_str(), &info));
            platform::FileId onDisk;
            ASSERT_TRUE(platform::fileIdOf(out.path().c_str(), &onDisk));
            EXPECT_TRUE(out.isOutput(onDisk));
            platform::FileId targetId;
            EXPECT_EQ(platform::fileIdOf(target.c_str(), &targetId) && out.isOutput(targetId), c.targetExists);
            writeAll(out.file(), "new");
            // Nothing reaches the target before the end.
            EXPECT_EQ(readWholeFile(target), c.targetExists ? "old" : "");
            if (c.end == Commit) {
                ASSERT_TRUE(out.commit(&error)) << error;
                EXPECT_FALSE(out.active());
            } else if (c.end == Abandon) {
                out.abandon();
            }
        }
        bool present = false;
        std::string contents = readWholeFile(target, &present);
        EXPECT_EQ(present, c.expected != nullptr);
        if (c.expected) {
            EXPECT_EQ(contents, c.expected);
        }
        std::vector<std::string> left = namesIn(dir.path());
        EXPECT_EQ(left, c.expected ? std::vector<std::string>{"out.zip"} : std::vector<std::string>{});
    }
}

// A file closed early can be written by name, as a writer of its own does.
TEST(ReplacingOutput, WrittenByNameAfterClosing) {
    ScratchDir dir;
    const std::string target = dir.file("out.exe");
    dir.write("out.exe", "old");
    ReplacingOutput out;
    std::string error;
    ASSERT_TRUE(out.begin(target.c_str(), &error)) << error;
    out.closeFile();
    EXPECT_EQ(out.file(), platform::kInvalidFile);
    platform::FileHandle h = platform::openFile(out.path().c_str(), platform::OpenMode::CreateAlways);
    ASSERT_NE(h, platform::kInvalidFile);
    writeAll(h, "written by name");
    platform::closeFile(h);
    ASSERT_TRUE(out.commit(&error)) << error;
    EXPECT_EQ(readWholeFile(target), "written by name");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.exe"});
}

TEST(ReplacingOutput, RefusedTargets) {
    ScratchDir dir;
    const std::string folder = dir.file("sub");
    ASSERT_TRUE(platform::createDirectory(folder.c_str()));
    struct Case {
        std::string target;
        std::string error;  // the system's reason follows when it ends in ": "
    };
    std::vector<Case> cases = {
        {folder, folder + ": is a folder"},
        {dir.file("missing/out.zip"), dir.file("missing/out.zip") + ": cannot create a temporary file beside it: "},
    };
#ifndef _WIN32
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    cases.push_back({pipe, pipe + ": is not a regular file"});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        ReplacingOutput out;
        std::string error;
        EXPECT_FALSE(out.begin(c.target.c_str(), &error));
        if (c.error.back() == ' ') {
            EXPECT_EQ(error.compare(0, c.error.size(), c.error), 0) << error;
            EXPECT_GT(error.size(), c.error.size()) << "no reason given";
        } else {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_FALSE(out.active());
    }
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{});
    EXPECT_TRUE(platform::removeDirectory(folder.c_str()));
}
