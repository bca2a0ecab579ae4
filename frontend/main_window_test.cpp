#include "frontend/main_window.h"

#include "frontend/fake_host.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <tuple>

#include "support/platform.h"
#include "support/testing/scratch_dir.h"
#include "support/testing/tree_listing.h"
#include "zipengine/zip_engine.h"

namespace {

const std::string S(1, platform::pathSeparator());
class MainWindowTest : public ::testing::Test {
protected:
    void TearDown() override { removeTree(dir_.path().substr(0, dir_.path().size() - 1)); }
    std::string at(const std::string& rel) const { return dir_.path() + rel; }
    static std::string parentOf(const std::string& path) { return path.substr(0, path.find_last_of("/\\")); }
    void put(const std::string& rel, const std::string& bytes) {
        platform::createDirectoryChain(parentOf(at(rel)).c_str());
        dir_.write(rel, bytes);
    }
    std::unique_ptr<MainWindow> window() {
        MainWindowSetup setup;
        setup.programFolder = at("prog");
        setup.scratchParent = dir_.path();
        return std::unique_ptr<MainWindow>(new MainWindow(host_, setup));
    }
    // An archive of src/a.txt and src/b.txt at rel.
    std::string archive(const std::string& rel, const std::string& password = "") {
        put("src/a.txt", "alpha");
        put("src/b.txt", "beta");
        platform::createDirectoryChain(parentOf(at(rel)).c_str());
        ZipEngine e;
        e.newArchive(at(rel));
        e.addFolderContents(at("src"), false);
        e.setPasswordProtection(!password.empty());
        e.setPassword(password);
        e.writeArchive();
        return at(rel);
    }

    ScratchDir dir_;
    FakeHost host_;
};

TEST_F(MainWindowTest, SelectFilesAppendsEveryChosenPath) {
    struct {
        std::optional<std::string> answer;
        std::vector<std::string> listed;
    } const cases[] = {
        {std::string("C:\\data\\a.txt"), {"C:\\data\\a.txt"}},
        {std::string("  C:\\data\\a b.txt  "), {"C:\\data\\a b.txt"}},
        {std::string("C:\\data\0a.txt\0b.txt\0c.txt", 26),
         {"C:\\data" + S + "a.txt", "C:\\data" + S + "b.txt", "C:\\data" + S + "c.txt"}},
        {std::string("C:\\\0a.txt\0b.txt\0", 17), {"C:\\a.txt", "C:\\b.txt"}},  // a root keeps its one "\"
        {std::nullopt, {}},
    };
    for (const auto& c : cases) {
        auto w = window();
        w->state().FileList = {"kept"};
        host_.answers = {c.answer};
        w->selectFiles();
        std::vector<std::string> expected = {"kept"};
        expected.insert(expected.end(), c.listed.begin(), c.listed.end());
        EXPECT_EQ(w->state().FileList, expected);
        EXPECT_EQ(w->state().Text3, c.answer ? std::to_string(expected.size()) : "") << "the count of a cancel";
    }
    EXPECT_EQ(host_.dialogs[0].title, "Select Files for Orvanta");
    EXPECT_EQ(host_.dialogs[0].flags, 2626052u);
}

TEST_F(MainWindowTest, ListMessagesCountsAndTooltip) {
    auto w = window();
    MainWindowState& s = w->state();
    w->removeFile();
    w->clearAll();
    EXPECT_EQ(host_.messages,
              (std::vector<Message>{{"Nothing to remove!", "Orvanta", MessageIcon::Exclamation},
                                    {"Nothing is in the list box!", "Orvanta", MessageIcon::Exclamation}}));
    s.FileList = {"a", "b", "a"};  // the same file twice counts twice
    w->countsChanged();
    EXPECT_EQ(s.Text3, "3");
    w->removeFile();  // nothing selected: nothing removed
    EXPECT_EQ(s.FileList.size(), 3u);
    s.FileListSelected = 1;
    w->fileListClicked();
    EXPECT_EQ(s.FileListTip, "b");
    w->removeFile();
    EXPECT_EQ(s.FileList, (std::vector<std::string>{"a", "a"}));
    EXPECT_EQ(s.Text3, "2");
    w->clearAll();
    EXPECT_EQ(s.Text3, "0");
    EXPECT_EQ(host_.messages.size(), 2u);
}

TEST_F(MainWindowTest, SaveZipPacksTheListedFilesWithThePassword) {
    put("one/a.txt", "alpha");
    put("two/b.txt", "beta");
    for (bool fromMenu : {false, true}) {
        auto w = window();
        put(w->scratch().first().substr(dir_.path().size()) + S + "stale.txt", "left by an earlier save");
        w->state().FileList = {at("one/a.txt"), at("two/b.txt")};
        w->state().pas1 = "pw";
        const std::string out = at(fromMenu ? "menu.zip" : "button.zip");
        host_.messages.clear();
        host_.answers = {out};
        fromMenu ? w->saveZipFromMenu() : w->saveZip();
        ASSERT_EQ(host_.messages,
                  (std::vector<Message>{success("Success! Your new Zip archive is built in " + out + " ")}));
        ZipEngine e;
        EXPECT_THROW(e.openZip(out), ZipEngineError) << "no password given";
        e.setPassword("pw");
        e.openZip(out);
        std::vector<std::string> names;
        for (EntryCollection c = e.getEntries(); c.hasMore();) names.push_back(c.next().fileName);
        EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
    }
}

TEST_F(MainWindowTest, MenuSaveEnablesTheBusySetOnEveryWayOut) {
    put("one/a.txt", "alpha");
    put("two/a.txt", "another alpha");
    struct {
        const char* what;
        std::vector<std::string> files;
        std::optional<std::string> answer;
        bool dialogShown;
        std::string messageStart;  // empty: no message
    } const cases[] = {
        {"empty list", {}, std::nullopt, false, "You must select file into the file list box!    "},
        {"cancelled", {"one/a.txt"}, std::nullopt, true, ""},
        {"written",
         {"one/a.txt", "one/a.txt"},
         std::string("ok.zip"),
         true,
         "Success! Your new Zip archive is built in "},
        {"same name",
         {"one/a.txt", "two/a.txt"},
         std::string("x.zip"),
         false,
         "Files of the same name cannot be zipped"},
        {"file gone", {"one/gone.txt"}, std::string("x.zip"), false, "Cannot copy "},
        {"no such folder", {"one/a.txt"}, std::string("nowhere/x.zip"), true, "Failed to write the zip archive"},
    };
    for (const auto& c : cases) {
        auto w = window();
        for (const std::string& f : c.files) w->state().FileList.push_back(at(f));
        host_.messages.clear();
        host_.answers = {c.answer ? std::optional<std::string>(at(*c.answer)) : std::nullopt};
        bool lockedDuringDialog = false;
        host_.duringDialog = [&] {
            lockedDuringDialog = true;
            for (BusyButton b : kBusySet) lockedDuringDialog &= !w->state().isEnabled(b);
            w->clearAll();  // refused while the save runs
        };
        w->saveZipFromMenu();
        for (BusyButton b : kBusySet) EXPECT_TRUE(w->state().isEnabled(b)) << c.what << " button " << int(b);
        EXPECT_FALSE(w->state().working) << c.what;
        EXPECT_EQ(w->state().FileList.size(), c.files.size()) << c.what;
        EXPECT_EQ(lockedDuringDialog, c.dialogShown) << c.what;
        if (c.messageStart.empty()) {
            EXPECT_TRUE(host_.messages.empty()) << c.what;
        } else {
            ASSERT_EQ(host_.messages.size(), 1u) << c.what;
            EXPECT_EQ(std::get<0>(host_.messages[0]).rfind(c.messageStart, 0), 0u) << std::get<0>(host_.messages[0]);
        }
    }
}

TEST_F(MainWindowTest, BesideFolderDropsOnlyTheArchivesOwnExtension) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\data\\a.zip", "C:\\data\\a"},     {"C:\\my.zipfiles\\a.zip", "C:\\my.zipfiles\\a"},
        {"C:\\data\\A.ZIP", "C:\\data\\A"},     {"C:\\data\\b.zip.zip", "C:\\data\\b.zip"},
        {"C:\\v1.2\\noext", "C:\\v1.2\\noext"},  // nothing to drop: the unzip fails on the file
        {"C:\\data\\.zip", "C:\\data\\.zip"},
    };
    for (const auto& c : cases) EXPECT_EQ(MainWindow::besideFolder(c.first), c.second) << c.first;
}

TEST_F(MainWindowTest, EachUnzipCommandsTargetAndMessage) {
    const std::string zip = archive("my.zipfiles/A.ZIP");
    char cwd[1024];
    ASSERT_GT(platform::currentDirectory(cwd, sizeof cwd), 0u);
    ASSERT_TRUE(platform::setCurrentDirectory(dir_.path().c_str()));  // log.xml lands here
    const std::string picked = at("picked") + S, beside = at("my.zipfiles/A"), dest = at("dest");
    platform::createDirectoryChain(picked.c_str());
    struct {
        const char* what;
        void (MainWindow::*command)();
        bool opened;
        Message expected;
        std::string target;
    } const cases[] = {
        {"Command2, none opened", &MainWindow::unzipToPickedFolder, false,
         warning("Error, no zip archive has been opened    "), ""},
        {"Command5, none opened", &MainWindow::unzipBeside, false, warning("Error, no zip archive has been opened    "),
         ""},
        {"mnuBr13, none opened", &MainWindow::unzipBesideFromMenu, false,
         warning("Error, no zip archive has been opened    "), ""},
        {"mnuUnzip, none opened", &MainWindow::unzipToDestination, false,
         warning("Error, no Zip archive has been opened    "), ""},
        {"Command2", &MainWindow::unzipToPickedFolder, true,
         success("Success! Your Zip archive unzipped to " + picked + "     "), picked},
        {"Command5", &MainWindow::unzipBeside, true, success("Success! Files are unzipped in " + beside + " "), beside},
        {"mnuBr13", &MainWindow::unzipBesideFromMenu, true, success("Success! Files are unzipped in " + beside + " "),
         beside},
        {"mnuUnzip", &MainWindow::unzipToDestination, true,
         success("Success! Your Zip archive unzipped to " + dest + " "), dest},
    };
    for (const auto& c : cases) {
        auto w = window();
        host_.answers = {zip, picked + "Select Folder and click Open"};
        c.opened ? w->selectAndOpenZip() : w->selectZipPathOnly();  // the menu only fills the path box
        w->forgetZip();                                             // the archive opened last is still unzipped
        w->destDirChanged(dest);
        host_.messages.clear();
        (w.get()->*c.command)();
        EXPECT_EQ(host_.messages, std::vector<Message>{c.expected}) << c.what;
        if (c.target.empty()) continue;
        EXPECT_EQ(readWholeFile(c.target + S + "b.txt"), "beta") << c.what;
        EXPECT_EQ(w->state().ProgressBar1, 100) << c.what;
        removeTree(c.target);
    }
    EXPECT_TRUE(fileIsThere(at("log.xml")));
    platform::setCurrentDirectory(cwd);
}

TEST_F(MainWindowTest, PasswordWindowFillsPas2AndRebuildsTheList) {
    const std::string zip = archive("locked.zip", "pw");
    auto w = window();
    MainWindowState& s = w->state();
    host_.answers = {zip};
    w->selectAndOpenZip();
    EXPECT_EQ(host_.passwordWindows, 1);
    EXPECT_EQ(s.Text6, "0");
    for (const char* typed : {"p", "px"}) {
        w->passwordTextChanged(typed);
        EXPECT_EQ(s.pas2, typed);
    }
    w->passwordEnter();
    EXPECT_EQ(host_.messages, std::vector<Message>{warning("Wrong password!    ")});
    EXPECT_TRUE(s.List1.empty());
    w->passwordTextChanged("pw");
    w->passwordEnter();
    EXPECT_EQ(s.List1, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(s.Text6, "2");
    // The archive opened before the password was known still cannot unzip.
    w->unzipBeside();
    EXPECT_EQ(host_.messages.back(),
              warning("Failed to open Non English zip archive or you need to set password to unzip it.    "));
    host_.answers = {zip};
    w->selectAndOpenZip();  // opened with the password now in pas2
    EXPECT_EQ(host_.passwordWindows, 1);
    EXPECT_EQ(s.Text6, "2");
}

TEST_F(MainWindowTest, ScratchFoldersArePerRunAndGoWithIt) {
    std::string first;
    {
        auto a = window(), b = window();
        first = a->state().Text4;
        EXPECT_NE(first, b->state().Text4);
        EXPECT_EQ(first.rfind(dir_.path(), 0), 0u);
        a->state().FileList = {archive("x.zip")};
        host_.answers = {at("y.zip")};
        a->saveZip();
        EXPECT_TRUE(fileIsThere(first + S + "x.zip"));
    }
    EXPECT_FALSE(fileIsThere(first + S + "x.zip"));
    EXPECT_EQ(listTree(dir_.path()), (std::vector<std::string>{"src/", "src/a.txt", "src/b.txt", "x.zip", "y.zip"}));
}

TEST_F(MainWindowTest, HelpNeedsTheHelpFile) {
    auto w = window();
    w->openHelp();
    EXPECT_EQ(host_.messages,
              (std::vector<Message>{{"Readme File cannot be found!", "Message", MessageIcon::Exclamation}}));
    put("prog/orvantahelp.chm", "help");
    w->openHelp();
    EXPECT_EQ(host_.started,
              std::vector<std::string>{"rundll32 url.dll,FileProtocolHandler " + at("prog") + S + "orvantahelp.chm"});
}

}  // namespace
