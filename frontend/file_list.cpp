#include "frontend/file_list.h"

#include "frontend/scratch_folders.h"
#include "support/platform.h"

namespace {

const char kProgramTitle[] = "Orvanta";

bool isSeparator(char c) { return c == '\\' || c == '/'; }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string trimBlanks(const std::string& s) {
    const size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

}  // namespace

bool sameFileName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

void warn(WindowHost& host, const std::string& text) { host.message(text, "Warning", MessageIcon::Information); }

void FileListBox::select(WindowHost& host) {
    FileDialog d;
    d.title = "Select Files for Orvanta";
    d.filter = "Files (*.*)  ";
    d.flags = DialogFlags::kOpenSeveral;
    d.maxFileLength = 5200;
    std::string answer;
    if (!host.fileDialog(d, &answer)) return;
    answer = trimBlanks(answer);
    if (answer.find('\0') == std::string::npos) {
        if (!answer.empty()) files.push_back(answer);
    } else {
        // The folder, then the names, NUL-separated.
        std::vector<std::string> parts;
        size_t start = 0;
        for (size_t end; (end = answer.find('\0', start)) != std::string::npos; start = end + 1)
            parts.push_back(answer.substr(start, end - start));
        parts.push_back(answer.substr(start));
        std::string folder = parts[0];
        if (folder.empty() || !isSeparator(folder.back())) folder += platform::pathSeparator();
        for (size_t i = 1; i < parts.size(); i++)
            if (!parts[i].empty()) files.push_back(folder + parts[i]);
    }
    count = std::to_string(files.size());
}

void FileListBox::removeSelected(WindowHost& host) {
    if (files.empty()) {
        host.message("Nothing to remove!", kProgramTitle, MessageIcon::Exclamation);
        return;
    }
    if (selected >= 0 && size_t(selected) < files.size()) {
        files.erase(files.begin() + selected);
        selected = -1;
    }
    count = std::to_string(files.size());
}

void FileListBox::clear(WindowHost& host) {
    if (files.empty()) {
        host.message("Nothing is in the list box!", kProgramTitle, MessageIcon::Exclamation);
        return;
    }
    files.clear();
    selected = -1;
    count = "0";
}

void FileListBox::clicked() {
    if (selected >= 0 && size_t(selected) < files.size()) tip = files[size_t(selected)];
}

bool copyFlat(WindowHost& host, const std::vector<std::string>& files, const std::string& folder) {
    std::string clashes;
    for (size_t i = 0; i < files.size(); i++) {
        const std::string& a = files[i];
        for (size_t j = i + 1; j < files.size(); j++) {
            const std::string& b = files[j];
            if (sameFileName(fileops::fileNameOf(a), fileops::fileNameOf(b)) && !sameFileName(a, b)) {
                clashes += "\n" + a + "\n" + b;
                break;
            }
        }
    }
    if (!clashes.empty()) {
        warn(host, "Files of the same name cannot be zipped together, one would replace the other:" + clashes +
                       "\nRemove all but one of each name from the file list box.    ");
        return false;
    }
    for (const std::string& file : files) {
        std::string why;
        if (!fileops::copyFileOver(file, folder + platform::pathSeparator() + fileops::fileNameOf(file), &why)) {
            warn(host, "Cannot copy " + file + ": " + why + "    ");
            return false;
        }
        host.busy();
    }
    return true;
}
