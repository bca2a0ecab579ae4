#include "support/file_sys.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/string_buffer.h"
#include "support/testing/recording_log.h"
#include "support/testing/scratch_dir.h"

TEST(FileSys, ExistsAndSize) {
    ScratchDir dir;
    dir.write("a.bin", "12345");
    RecordingLog log;
    EXPECT_TRUE(FileSys::fileExists(dir.file("a.bin").c_str(), &log));
    bool ok = false;
    EXPECT_EQ(FileSys::getFileSize(dir.file("a.bin").c_str(), &log, &ok), 5u);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(log.lines.empty());

    std::string missing = dir.file("none.bin");
    EXPECT_FALSE(FileSys::fileExists(missing.c_str(), &log));
    ASSERT_EQ(log.lines.size(), 1u);  // only the system's text
    EXPECT_EQ(log.lines[0].rfind("error: ", 0), 0u);

    RecordingLog log2;
    EXPECT_EQ(FileSys::getFileSize(missing.c_str(), &log2, &ok), 0u);
    EXPECT_FALSE(ok);
    ASSERT_EQ(log2.lines.size(), 3u);
    EXPECT_EQ(log2.lines[1], "data: filename = " + missing);
    EXPECT_EQ(log2.lines[2], "error: Failed to open file");
}

TEST(FileSys, WriteFileReplacesAndReportsFailures) {
    ScratchDir dir;
    std::string p = dir.file("out.bin");
    dir.track(p);
    RecordingLog log;
    EXPECT_TRUE(FileSys::writeFile(p.c_str(), "long content", 12, &log));
    EXPECT_TRUE(FileSys::writeFile(p.c_str(), "short", 5, &log));
    EXPECT_EQ(readWholeFile(p), "short");
    EXPECT_TRUE(FileSys::writeFile(p.c_str(), nullptr, 0, &log));
    EXPECT_EQ(readWholeFile(p), "");
    EXPECT_TRUE(log.lines.empty());
    EXPECT_FALSE(FileSys::writeFile("", "x", 1, &log));
    EXPECT_FALSE(FileSys::writeFile(nullptr, "x", 1, &log));
    EXPECT_TRUE(log.lines.empty());  // an absent path is refused silently

    std::string bad = dir.file("no-such-folder/out.bin");
    EXPECT_FALSE(FileSys::writeFile(bad.c_str(), "x", 1, &log));
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "data: filename = " + bad);
    EXPECT_EQ(log.lines[1].rfind("error: ", 0), 0u);
    EXPECT_EQ(log.lines[2], "error: Failed to open/create file for writing");
}

TEST(FileSys, MakeUniquePathSequence) {
    ScratchDir dir;
    std::string d = dir.path().substr(0, dir.path().size() - 1);  // no trailing separator
    StringBuffer out;
    FileSys::makeUniquePath(d.c_str(), "tln.tmp", out);
    EXPECT_EQ(std::string(out.str()), d + "/tln.tmp");
    dir.write("tln.tmp", "x");
    FileSys::makeUniquePath(d.c_str(), "tln.tmp", out);
    EXPECT_EQ(std::string(out.str()), d + "/tln_2.tmp");
    dir.write("tln_2.tmp", "x");
    FileSys::makeUniquePath(d.c_str(), "tln.tmp", out);
    EXPECT_EQ(std::string(out.str()), d + "/tln_3.tmp");

    // No dot: ".tmp" is added. Two dots: split at the last one.
    dir.write("stub.tmp", "x");
    FileSys::makeUniquePath(dir.path().c_str(), "stub", out);
    EXPECT_EQ(std::string(out.str()), dir.path() + "stub_2.tmp");
    dir.write("a.b.c", "x");
    FileSys::makeUniquePath(dir.path().c_str(), "a.b.c", out);
    EXPECT_EQ(std::string(out.str()), dir.path() + "a.b_2.c");
    // A backslash also counts as a trailing separator.
    FileSys::makeUniquePath("dir\\", "f.txt", out);
    EXPECT_EQ(std::string(out.str()), "dir\\f.txt");
}

TEST(FileSys, CreateUniqueFileNeverSharesANameBetweenThreads) {
    ScratchDir dir;
    constexpr int kThreads = 8, kEach = 25;
    std::vector<std::string> names[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; i++) {
                StringBuffer path;
                platform::FileHandle h = FileSys::createUniqueFile(dir.path().c_str(), "tln.tmp", path, nullptr);
                if (h == platform::kInvalidFile) continue;
                std::string mark = std::to_string(t) + ":" + std::to_string(i);
                uint32_t w;
                platform::writeFile(h, mark.data(), uint32_t(mark.size()), &w);
                platform::closeFile(h);
                names[t].push_back(std::string(path.str()) + "|" + mark);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<std::string> paths;
    for (auto& v : names) {
        EXPECT_EQ(v.size(), size_t(kEach));
        for (auto& entry : v) {
            std::string p = entry.substr(0, entry.find('|'));
            std::string mark = entry.substr(entry.find('|') + 1);
            dir.track(p);
            EXPECT_TRUE(paths.insert(p).second) << "name handed out twice: " << p;
            EXPECT_EQ(readWholeFile(p), mark) << "file written by two threads: " << p;
        }
    }
    EXPECT_EQ(paths.size(), size_t(kThreads * kEach));
    EXPECT_TRUE(paths.count(dir.path() + "tln.tmp"));
    EXPECT_TRUE(paths.count(dir.path() + "tln_" + std::to_string(kThreads * kEach) + ".tmp"));
}

TEST(FileSys, WriteUniqueTempFile) {
    StringBuffer first, second;
    RecordingLog log;
    std::string name = "orv-unique-" + std::to_string(platform::processId()) + ".bin";
    ASSERT_TRUE(FileSys::writeUniqueTempFile(name.c_str(), "one", 3, first, &log));
    ASSERT_TRUE(FileSys::writeUniqueTempFile(name.c_str(), "two", 3, second, &log));
    StringBuffer tmp;
    ASSERT_TRUE(FileSys::tempDirectory(tmp));
    EXPECT_EQ(std::string(first.str()).rfind(tmp.str(), 0), 0u);
    EXPECT_NE(std::string(first.str()), std::string(second.str()));
    EXPECT_NE(std::string(second.str()).find("_2.bin"), std::string::npos);
    EXPECT_EQ(readWholeFile(first.str()), "one");
    EXPECT_EQ(readWholeFile(second.str()), "two");
    platform::deleteFile(first.str());
    platform::deleteFile(second.str());
    EXPECT_TRUE(log.lines.empty());
}
