#include "frontend/main_window.h"

#include <utility>

#include "support/platform.h"
#include "zipengine/zip_engine.h"

namespace {

const char kProgramTitle[] = "Orvanta";
const char kFolderPlaceholder[] = "Select Folder and click Open";
const char kNoArchiveOpened[] = "Error, no zip archive has been opened    ";

}  // namespace

// A command that runs long: refused while another one runs; with the busy
// set, it disables the set for its length and enables it again on every
// way out (return or exception).
class MainWindow::Work {
public:
    Work(MainWindow& w, bool lockBusySet) : w_(w), refused_(w.state_.working), lock_(lockBusySet && !refused_) {
        if (refused_) return;
        w_.state_.working = true;
        if (lock_)
            for (BusyButton b : kBusySet) w_.state_.enabled[size_t(b)] = false;
    }
    ~Work() {
        if (refused_) return;
        if (lock_)
            for (BusyButton b : kBusySet) w_.state_.enabled[size_t(b)] = true;
        w_.state_.working = false;
    }
    bool refused() const { return refused_; }

private:
    MainWindow& w_;
    const bool refused_, lock_;
};

MainWindow::MainWindow(WindowHost& host, MainWindowSetup setup)
    : host_(host), setup_(std::move(setup)), scratch_(setup_.scratchParent) {
    state_.Text4 = scratch_.first();
    state_.iconlist = defaultIconPath(setup_.programFolder);
}

MainWindow::~MainWindow() = default;

std::unique_ptr<ZipEngine> MainWindow::newEngine() {
    std::unique_ptr<ZipEngine> e = setup_.newEngine ? setup_.newEngine() : std::unique_ptr<ZipEngine>(new ZipEngine());
    e->setUnzipPercentDone([this](int percent) {
        state_.ProgressBar1 = percent;
        host_.busy();
    });
    e->setBusyCallback([this] { host_.busy(); });
    return e;
}

void MainWindow::warn(const std::string& text) { ::warn(host_, text); }

// ---- The window as a whole ------------------------------------------------

void MainWindow::start() { host_.showAdvertisementWindow(); }

void MainWindow::exitProgram() { host_.endProgram(); }

void MainWindow::showAbout() {
    if (!state_.working) host_.showAboutWindow();
}

void MainWindow::openSfxWindow() {
    if (state_.working) return;
    SfxWindowSetup setup;
    setup.programFolder = setup_.programFolder;
    setup.scratchFolder = scratch_.first();
    setup.newEngine = [this] { return newEngine(); };
    SfxWindow sfx(host_, setup);
    sfx.load();
    host_.showSfxWindow(sfx);
}

void MainWindow::openHelp() {
    const std::string chm = setup_.programFolder + platform::pathSeparator() + "orvantahelp.chm";
    // Starting the handler succeeds whether or not the file is there, so
    // the file is looked for first.
    if (!fileops::fileExists(chm) || !host_.startProgram("rundll32 url.dll,FileProtocolHandler " + chm))
        host_.message("Readme File cannot be found!", "Message", MessageIcon::Exclamation);
}

void MainWindow::fileListClicked() { fileList().clicked(); }

void MainWindow::list1Clicked() {
    const int i = state_.List1Selected;
    if (i >= 0 && size_t(i) < state_.List1.size()) state_.List1Tip = state_.List1[size_t(i)];
}

void MainWindow::countsChanged() {
    state_.Text3 = std::to_string(state_.FileList.size());
    state_.Text6 = std::to_string(state_.List1.size());
}

// ---- Zip creation -----------------------------------------------------------

FileListBox MainWindow::fileList() {
    return FileListBox{state_.FileList, state_.FileListSelected, state_.Text3, state_.FileListTip};
}

void MainWindow::selectFiles() {
    if (!state_.working) fileList().select(host_);
}

void MainWindow::removeFile() {
    if (!state_.working) fileList().removeSelected(host_);
}

void MainWindow::clearAll() {
    if (!state_.working) fileList().clear(host_);
}

std::string MainWindow::pickFolder() {
    FileDialog d;
    d.title = "Select the required folder";
    d.filter = "folder";
    d.fileName = kFolderPlaceholder;
    d.initialFolder = rememberedFolder_;
    std::string answer;
    if (!host_.fileDialog(d, &answer) || answer == kFolderPlaceholder) return "";
    rememberedFolder_ = fileops::folderOf(answer) + platform::pathSeparator();
    return rememberedFolder_;
}

void MainWindow::pickZipFolder() {
    if (state_.working) return;
    const std::string folder = pickFolder();
    if (!folder.empty()) state_.zdir = folder;
}

void MainWindow::clearZipFolder() {
    if (!state_.working) state_.zdir.clear();
}

void MainWindow::saveZip() { saveZip(false); }

void MainWindow::saveZipFromMenu() { saveZip(true); }

bool MainWindow::listIntoScratch(const char* emptyListWarning) {
    const std::string& folder = scratch_.first();
    if (!ScratchFolders::ensure(folder)) {
        warn("Cannot create the scratch folder " + folder + "    ");
        return false;
    }
    fileops::deleteFilesIn(folder);
    if (state_.FileList.empty()) {
        warn(emptyListWarning);
        return false;
    }
    return copyFlat(host_, state_.FileList, folder);
}

void MainWindow::saveZip(bool fromMenu) {
    Work work(*this, fromMenu);
    if (work.refused()) return;
    const std::string& folder = scratch_.first();
    if (!listIntoScratch("You must select file into the file list box!    ")) return;

    std::string path;
    try {
        std::unique_ptr<ZipEngine> engine = newEngine();
        engine->newArchive(zipDialogFileName_);
        FileDialog d;
        d.kind = FileDialog::Save;
        d.title = "Save zip file as...";
        d.filter = ".zip File only (*.zip)|*.zip";
        d.fileName = zipDialogFileName_;
        d.initialFolder = fromMenu ? "C:\\" : "";
        d.flags = DialogFlags::kOverwritePrompt;
        if (!host_.fileDialog(d, &path)) return;
        zipDialogFileName_ = path;
        engine->addFolderContents(folder, false);
        // The menu takes the password as the button does: a typed password
        // is never left out silently.
        engine->setPasswordProtection(!state_.pas1.empty());
        engine->setPassword(state_.pas1);
        engine->setOutputName(path);
        engine->writeArchive();
    } catch (const ZipEngineError& e) {
        warn(std::string("Failed to write the zip archive:\n") + e.what() + "    ");
        return;
    }
    if (fileops::fileExists(path))
        host_.message("Success! Your new Zip archive is built in " + path + " ", kProgramTitle, MessageIcon::None);
}

// ---- Unzip ------------------------------------------------------------------

void MainWindow::fillList1(ZipEngine& engine) {
    state_.List1.clear();
    state_.List1Selected = -1;
    for (EntryCollection entries = engine.getEntries(); entries.hasMore();)
        state_.List1.push_back(entries.next().fileName);
    state_.Text6 = std::to_string(state_.List1.size());
}

bool MainWindow::selectZip(const std::string& title) {
    FileDialog d;
    d.title = title;
    d.filter = "zip Files (*.zip)|*.zip";
    d.flags = DialogFlags::kOpenExisting;
    d.maxFileLength = 5200;
    mp3DialogFileName_.clear();
    std::string path;
    if (!host_.fileDialog(d, &path)) return false;
    mp3DialogFileName_ = path;
    state_.mp3text = path;
    return true;
}

void MainWindow::selectAndOpenZip() {
    Work work(*this, false);
    if (work.refused() || !selectZip("Select an Zip File ")) return;
    zipFile_ = newEngine();
    zipFile_->setPassword(state_.pas2);
    try {
        zipFile_->openZip(state_.mp3text);
    } catch (const ZipEngineError&) {
        host_.showPasswordWindow();
    }
    fillList1(*zipFile_);
}

void MainWindow::selectZipPathOnly() {
    if (!state_.working) selectZip("Select an Zip File for Orvanta");
}

void MainWindow::openZipFromText() {
    Work work(*this, false);
    if (work.refused()) return;
    zipFile_ = newEngine();
    try {
        zipFile_->openZip(state_.mp3text);
        fillList1(*zipFile_);
    } catch (const ZipEngineError&) {
        warn("Nothing or failed to open zip Archive    ");
    }
}

void MainWindow::forgetZip() {
    if (state_.working) return;
    state_.mp3text.clear();
    state_.List1.clear();
    state_.List1Selected = -1;
    state_.Text6 = "0";
}

void MainWindow::unzipToPickedFolder() {
    Work work(*this, false);
    if (work.refused()) return;
    const std::string folder = pickFolder();
    if (folder.empty()) return;
    state_.DestDir = folder;
    if (!zipFile_) {
        warn(kNoArchiveOpened);
        return;
    }
    try {
        state_.ProgressBar1 = 0;
        zipFile_->unzipToFolder(state_.DestDir);
        host_.message("Success! Your Zip archive unzipped to " + state_.DestDir + "     ", kProgramTitle,
                      MessageIcon::None);
    } catch (const ZipEngineError&) {
        warn("Failed to open zip archive or you need to set password to unzip it.    ");
    }
}

std::string MainWindow::besideFolder(const std::string& path) {
    const std::string name = fileops::fileNameOf(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return path;
    return path.substr(0, path.size() - (name.size() - dot));
}

void MainWindow::unzipBeside() { unzipBeside(false); }

void MainWindow::unzipBesideFromMenu() { unzipBeside(true); }

void MainWindow::unzipBeside(bool fromMenu) {
    Work work(*this, false);
    if (work.refused()) return;
    if (!zipFile_) {
        warn(kNoArchiveOpened);
        return;
    }
    // Beside the archive that is unzipped, whatever the path box shows now.
    const std::string target = besideFolder(zipFile_->archivePath());
    try {
        state_.ProgressBar1 = 0;
        zipFile_->unzipToFolder(target);
        if (fileops::folderExists(target))
            host_.message("Success! Files are unzipped in " + target + " ", kProgramTitle, MessageIcon::None);
    } catch (const ZipEngineError&) {
        warn(fromMenu ? "Failed to open zip archive    "
                      : "Failed to open Non English zip archive or you need to set password to unzip it.    ");
    }
}

void MainWindow::unzipToDestination() {
    Work work(*this, false);
    if (work.refused()) return;
    if (!zipFile_) {
        warn("Error, no Zip archive has been opened    ");
        return;
    }
    // The log lands in the current folder; not being able to write it
    // there changes nothing about the unzip.
    auto saveLog = [this] {
        try {
            zipFile_->saveLog("log.xml");
        } catch (const ZipEngineError&) {
        }
    };
    try {
        state_.ProgressBar1 = 0;
        zipFile_->unzipToFolder(state_.DestDir);
    } catch (const ZipEngineError&) {
        saveLog();
        warn("Failed to Open Zip Archive    ");
        return;
    }
    host_.message("Success! Your Zip archive unzipped to " + state_.DestDir + " ", kProgramTitle, MessageIcon::None);
    saveLog();
}

void MainWindow::destDirChanged(const std::string& text) {
    // The folder is made by the unzip that needs it, not on every keystroke
    // (which left a folder for each typed prefix).
    state_.DestDir = text;
}

// ---- Self-extractors ---------------------------------------------------------

void MainWindow::buildSelfExtractor() {
    Work work(*this, true);
    if (work.refused()) return;
    std::unique_ptr<ZipEngine> engine = newEngine();
    if (!fileops::fileExists(state_.iconlist)) {
        warn("You must Select an icon or keep the default icon in the list box!    ");
        return;
    }
    // The selected files are what the executable carries; their folder is
    // emptied first so that nothing of an earlier zip or build comes along.
    const std::string& folder = scratch_.first();
    if (!listIntoScratch("You must select files into the file list box!    ")) return;
    // The program started after unpacking is quorlin.exe, when the files
    // carry one; without it the executable only unpacks.
    bool runQuorlin = false;
    for (const std::string& file : state_.FileList) runQuorlin |= sameFileName(fileops::fileNameOf(file), "quorlin.exe");
    std::string path;
    try {
        engine->setRunFromTemporaryFolder(runQuorlin);
        engine->setUnzipFolder("");
        engine->setRunProgram(runQuorlin);
        engine->setIconFile(state_.iconlist);
        engine->setProgramToRun(runQuorlin ? "quorlin.exe" : "");
        engine->newArchive("notUsed.zip");
        engine->addFolderContents(folder + platform::pathSeparator() + "*", true);
        if (!host_.fileDialog(exeSaveDialog(saveDialogFileName_, "C:\\"), &path)) return;
        saveDialogFileName_ = path;
        engine->writeSelfExtractor(path);
    } catch (const ZipEngineError& e) {
        warn(std::string("Failed to build the self-extractor:\n") + e.what() + "    ");
        return;
    }
    if (!fileops::fileExists(path)) return;
    host_.message("Success! Your new album Exe file is built in " + path + " ", kProgramTitle, MessageIcon::None);
    fileops::deleteFilesIn(folder);
}

void MainWindow::pickIcon() {
    if (state_.working) return;
    std::string path;
    if (host_.fileDialog(iconDialog(""), &path)) state_.iconlist = path;
}

void MainWindow::removeIcon() {
    if (!state_.working) state_.iconlist.clear();
}

void MainWindow::runBuilt() {
    if (state_.working) return;
    if (saveDialogFileName_.empty() || !host_.startProgram("\"" + saveDialogFileName_ + "\""))
        warn("File is not there!   ");
}

// ---- The password window ------------------------------------------------------

void MainWindow::passwordTextChanged(const std::string& text) {
    state_.passwordText = text;
    state_.pas2 = text;
}

void MainWindow::passwordEnter() {
    Work work(*this, false);
    if (work.refused()) return;
    state_.pas2 = state_.passwordText;
    std::unique_ptr<ZipEngine> engine = newEngine();
    engine->setPassword(state_.pas2);
    try {
        engine->openZip(mp3DialogFileName_);
    } catch (const ZipEngineError&) {
        warn("Wrong password!    ");
    }
    fillList1(*engine);
}

void MainWindow::passwordCancel() {
    // The window is unloaded: it comes back with an empty box.
    state_.passwordText.clear();
}
