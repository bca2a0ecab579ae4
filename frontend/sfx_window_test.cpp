// Both windows' builds of self-extractors, through the scripted host and a
// real engine: what the written executable carries is read back with the
// stub's own reader and unpacked with the stub's own logic.
#include "frontend/sfx_window.h"

#include <gtest/gtest.h>

#include <memory>

#include "exeimage/exe_image.h"
#include "frontend/fake_host.h"
#include "frontend/main_window.h"
#include "sfxformat/sfx_format.h"
#include "sfxstub/stub_core.h"
#include "sfxstub/stub_core_test_util.h"
#include "support/platform.h"
#include "support/testing/scratch_dir.h"
#include "support/testing/tree_listing.h"

namespace {

const std::string S(1, platform::pathSeparator());

// What a written self-extractor holds.
struct Built {
    bool encrypted = false;
    uint32_t keyBits = 0;
    std::string autotemp;                 // the program started after unpacking
    std::vector<std::string> files;       // what it unpacks
};

class SfxBuildTest : public ::testing::Test {
protected:
    void TearDown() override { removeTree(dir_.path().substr(0, dir_.path().size() - 1)); }
    std::string at(const std::string& rel) const { return dir_.path() + rel; }
    std::string put(const std::string& rel, const std::string& bytes) {
        platform::createDirectoryChain(fileops::folderOf(at(rel)).c_str());
        dir_.write(rel, bytes);
        return at(rel);
    }
    Built read(const std::string& exe, const std::string& password) {
        Built b;
        std::unique_ptr<ExeImage> image(ExeImage::loadFromFile(exe.c_str(), nullptr));
        if (!image) return b;
        StubParameters p;
        readStubParameters(*image, p);
        b.encrypted = p.encrypted;
        b.keyBits = p.keyBits;
        b.autotemp = p.autotemp.str();
        stubtest::RecordingUi ui;
        ui.passwords.push_back(password);
        StubSession session(p, ui);
        const std::string out = at("unpacked" + std::to_string(unpacked_++));
        EXPECT_EQ(session.openAndUnzip(out.c_str()), UnzipOutcome::Unzipped) << session.openError();
        b.files = listTree(out);
        return b;
    }

    ScratchDir dir_;
    FakeHost host_;
    int unpacked_ = 0;
};

TEST_F(SfxBuildTest, SfxWindowModelsCarryTheirOwnPasswordAndProgram) {
    const std::string a = put("in/a.txt", "alpha"), tool = put("in/tool.exe", "MZ");
    struct {
        const char* what;
        bool model2;
        std::string pas1, pas2, program;
        bool encrypted;
        std::string autotemp;
    } const cases[] = {
        {"model 1", false, "", "", "", false, ""},
        {"model 1 with its password", false, "one", "", "", true, ""},
        {"model 1 ignores pas2", false, "", "two", tool, false, ""},
        {"model 2 without pas2 while pas1 holds text", true, "one", "", tool, false, "tool.exe"},
        {"model 2 with its password", true, "", "two", tool, true, "tool.exe"},
    };
    for (const auto& c : cases) {
        SfxWindowSetup setup{at("prog"), at("scratch"), nullptr};
        SfxWindow w(host_, setup);
        w.load();
        w.state().iconlist.clear();  // passed on empty: the stub's icon
        w.state().FileList = {a, tool};
        w.state().pas1 = c.pas1, w.state().pas2 = c.pas2, w.state().mp3text = c.program;
        const std::string exe = at(std::string("out") + std::to_string(&c - cases) + ".exe");
        host_.messages.clear();
        host_.answers = {exe};
        c.model2 ? w.buildModel2() : w.buildModel1();
        ASSERT_EQ(host_.messages, std::vector<Message>({{"Success! Your new SFX .exe file is built in " + exe + " ",
                                                         "Calyx Album", MessageIcon::None}}))
            << c.what;
        const Built b = read(exe, c.model2 ? c.pas2 : c.pas1);
        EXPECT_EQ(b.encrypted, c.encrypted) << c.what;
        if (c.encrypted) {
            EXPECT_EQ(b.keyBits, 256u) << c.what;
        }
        EXPECT_EQ(b.autotemp, c.autotemp) << c.what;
        EXPECT_EQ(b.files, std::vector<std::string>({"a.txt", "tool.exe"})) << c.what;
        EXPECT_EQ(listTree(at("scratch")), std::vector<std::string>()) << c.what << ": emptied after success";
    }
    EXPECT_TRUE(fileops::folderExists(at("prog" + S + "icons"))) << "made at load";
}

TEST_F(SfxBuildTest, SfxWindowRefusesAndReports) {
    const std::string a = put("in/a.txt", "alpha"), b = put("in/b.txt", "beta");
    SfxWindowSetup setup{at("prog"), at("scratch"), nullptr};
    SfxWindow w(host_, setup);
    w.load();
    w.state().iconlist.clear();
    // An empty list, Model 2 without a program, a program not among the files.
    w.buildModel1();
    w.state().FileList = {a};
    w.buildModel2();
    w.state().mp3text = at("elsewhere.exe");
    host_.answers = {at("x.exe")};
    w.buildModel2();
    ASSERT_EQ(host_.messages.size(), 3u);
    EXPECT_EQ(host_.messages[0], warning("You must select files into the file list box!    "));
    EXPECT_EQ(host_.messages[1], warning(" You must select an .exe file in SFX Model 2!    "));
    EXPECT_NE(std::get<0>(host_.messages[2]).find("Failed to build the self-extractor"), std::string::npos);
    EXPECT_FALSE(fileops::fileExists(at("x.exe")));

    // A second build carries only its own files.
    host_.messages.clear();
    host_.answers = {at("1.exe"), at("2.exe")};
    w.buildModel1();
    w.state().FileList = {b};
    host_.answers = {at("2.exe")};
    w.buildModel1();
    EXPECT_EQ(read(at("2.exe"), "").files, std::vector<std::string>({"b.txt"}));
    EXPECT_EQ(host_.dialogs.back().title, "Save images as a standalone Exe file...");
    EXPECT_EQ(host_.dialogs.back().fileName, at("1.exe")) << "the dialog keeps the last name";
}

TEST_F(SfxBuildTest, MainWindowBuildPacksTheSelectedFiles) {
    put("prog/icons/ov.ico", "not an icon: the stub's is kept");
    const std::string a = put("in/a.txt", "alpha"), quorlin = put("in/Quorlin.exe", "MZ");
    MainWindowSetup setup;
    setup.programFolder = at("prog");
    setup.scratchParent = dir_.path();
    MainWindow w(host_, setup);
    EXPECT_EQ(w.state().iconlist, at("prog") + S + "icons" + S + "ov.ico") << "the default icon beside the program";

    w.runBuilt();
    EXPECT_EQ(host_.messages.back(), warning("File is not there!   ")) << "before any build";
    struct {
        std::vector<std::string> files;
        std::string autotemp;
    } const cases[] = {{{a}, ""}, {{a, quorlin}, "quorlin.exe"}};
    for (const auto& c : cases) {
        w.state().FileList = c.files;
        const std::string exe = at("album" + std::to_string(&c - cases) + ".exe");
        host_.answers = {exe};
        w.buildSelfExtractor();
        EXPECT_EQ(host_.messages.back(), success("Success! Your new album Exe file is built in " + exe + " "));
        const Built b = read(exe, "");
        EXPECT_EQ(b.files.size(), c.files.size());
        EXPECT_EQ(b.autotemp, c.autotemp);
        for (BusyButton k : kBusySet) EXPECT_TRUE(w.state().isEnabled(k));
    }
    w.runBuilt();
    EXPECT_EQ(host_.started.back(), "\"" + at("album1.exe") + "\"");
    w.removeIcon();
    w.buildSelfExtractor();
    EXPECT_EQ(host_.messages.back(), warning("You must Select an icon or keep the default icon in the list box!    "));
    for (BusyButton k : kBusySet) EXPECT_TRUE(w.state().isEnabled(k));
}

}  // namespace
