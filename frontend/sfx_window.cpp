#include "frontend/sfx_window.h"

#include <utility>

#include "frontend/scratch_folders.h"
#include "support/platform.h"
#include "zipengine/zip_engine.h"

namespace {

std::string iconsFolder(const std::string& programFolder) {
    return programFolder + platform::pathSeparator() + "icons";
}

}  // namespace

FileDialog exeSaveDialog(const std::string& fileName, const std::string& initialFolder) {
    FileDialog d;
    d.kind = FileDialog::Save;
    d.title = "Save images as a standalone Exe file...";
    d.filter = ".exe only (*.exe)|*.exe";
    d.fileName = fileName;
    d.initialFolder = initialFolder;
    d.flags = DialogFlags::kOverwritePrompt;
    // A name typed without extension still gives a program.
    d.defaultExtension = "exe";
    return d;
}

FileDialog iconDialog(const std::string& initialFolder) {
    FileDialog d;
    d.title = "Select an icon File for Orvanta";
    d.filter = "Icon Files (*.ico)|*.ico";
    d.initialFolder = initialFolder;
    d.flags = DialogFlags::kOpenExisting;
    d.maxFileLength = 5200;
    return d;
}

std::string defaultIconPath(const std::string& programFolder) {
    return iconsFolder(programFolder) + platform::pathSeparator() + "ov.ico";
}

SfxWindow::SfxWindow(WindowHost& host, SfxWindowSetup setup) : host_(host), setup_(std::move(setup)) {
    state_.Text4 = setup_.scratchFolder;
}

FileListBox SfxWindow::fileList() {
    return FileListBox{state_.FileList, state_.FileListSelected, state_.Text3, state_.FileListTip};
}

void SfxWindow::load() {
    ScratchFolders::ensure(iconsFolder(setup_.programFolder));
    state_.iconlist = defaultIconPath(setup_.programFolder);
}

void SfxWindow::selectFiles() { fileList().select(host_); }
void SfxWindow::removeFile() { fileList().removeSelected(host_); }
void SfxWindow::clearAll() { fileList().clear(host_); }
void SfxWindow::fileListClicked() { fileList().clicked(); }
void SfxWindow::removeIcon() { state_.iconlist.clear(); }
void SfxWindow::removeProgram() { state_.mp3text.clear(); }

void SfxWindow::pickIcon() {
    std::string path;
    if (host_.fileDialog(iconDialog(iconsFolder(setup_.programFolder)), &path)) state_.iconlist = path;
}

void SfxWindow::pickProgram() {
    FileDialog d;
    d.title = "Select an Exe File ";
    d.filter = "exe Files (*.exe)|*.exe";
    d.flags = DialogFlags::kOpenExisting;
    d.maxFileLength = 5200;
    std::string path;
    if (host_.fileDialog(d, &path)) state_.mp3text = path;
}

void SfxWindow::pickExtractFolder() {
    FileDialog d;
    d.kind = FileDialog::Save;
    d.title = "Extract files to ...";
    d.fileName = state_.sfx2dir;
    std::string path;
    if (host_.fileDialog(d, &path)) state_.sfx2dir = fileops::folderOf(path);
}

void SfxWindow::buildModel1() { build(false); }
void SfxWindow::buildModel2() { build(true); }

void SfxWindow::build(bool model2) {
    std::unique_ptr<ZipEngine> engine = setup_.newEngine ? setup_.newEngine() : std::unique_ptr<ZipEngine>(new ZipEngine());
    const std::string& folder = setup_.scratchFolder;
    if (!ScratchFolders::ensure(folder)) {
        warn(host_, "Cannot create the scratch folder " + folder + "    ");
        return;
    }
    fileops::deleteFilesIn(folder);
    if (state_.FileList.empty()) {
        warn(host_, "You must select files into the file list box!    ");
        return;
    }
    if (model2 && state_.mp3text.empty()) {
        warn(host_, " You must select an .exe file in SFX Model 2!    ");
        return;
    }
    if (!copyFlat(host_, state_.FileList, folder)) return;
    const std::string& password = model2 ? state_.pas2 : state_.pas1;
    std::string path;
    try {
        engine->setRunFromTemporaryFolder(model2);
        engine->setUnzipFolder("");
        engine->setRunProgram(model2);
        engine->setIconFile(state_.iconlist);
        engine->setProgramToRun(model2 ? state_.mp3text : "");
        engine->newArchive("notUsed.zip");
        engine->addFolderContents(folder, true);
        engine->setEncryption(!password.empty());
        engine->setKeyLength(256);
        engine->setPassword(password);
        if (!host_.fileDialog(exeSaveDialog(saveFileName_, ""), &path)) return;
        saveFileName_ = path;
        engine->writeSelfExtractor(path);
    } catch (const ZipEngineError& e) {
        // Said, not passed over: the user chose where it should go.
        warn(host_, std::string("Failed to build the self-extractor:\n") + e.what() + "    ");
        return;
    }
    if (!fileops::fileExists(path)) return;
    host_.message("Success! Your new SFX .exe file is built in " + path + " ", "Calyx Album", MessageIcon::None);
    fileops::deleteFilesIn(folder);
}
