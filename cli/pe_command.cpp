#include "cli/pe_command.h"
#include "cli/usage.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "exeimage/exe_image.h"
#include "sfxbuilder/icon_resource.h"
#include "support/data_buffer.h"
#include "support/log_base.h"
#include "support/platform.h"
#include "support/stderr_log.h"
#include "support/string_buffer.h"

namespace {

const char* kTypeNames[] = {nullptr,      "CURSOR",    "BITMAP",       "ICON",        "MENU",    "DIALOG",
                            "STRING",     "FONTDIR",   "FONT",         "ACCELERATOR", "RCDATA",  "MESSAGETABLE",
                            "GROUP_CURSOR", nullptr,   "GROUP_ICON",   nullptr,       "VERSION", "DLGINCLUDE",
                            nullptr,      "PLUGPLAY",  "VXD",          "ANICURSOR",   "ANIICON", "HTML",
                            "MANIFEST"};

std::string label(const ExeResource* r, int depth) {
    if (r->isNamed) return std::string("\"") + r->name.str() + "\"";
    std::string s = std::to_string(r->id);
    if (depth == 1 && r->id < sizeof kTypeNames / sizeof kTypeNames[0] && kTypeNames[r->id])
        s += std::string(" (") + kTypeNames[r->id] + ")";
    return s;
}

void printTree(const ExeResource* r, int depth) {
    for (int pass = 0; pass < 2; pass++) {
        const ExtPtrArray& list = pass == 0 ? r->namedChildren : r->idChildren;
        for (int i = 0; i < list.count(); i++) {
            const ExeResource* c = list.at<ExeResource>(i);
            std::printf("%*s%s", depth * 2, "", label(c, depth).c_str());
            if (c->isDirectory) {
                std::printf("\n");
                printTree(c, depth + 1);
            } else {
                std::printf("  %u bytes", c->dataSize);
                if (c->dataKind == ExeResource::DataKind::File) std::printf(" from %s", c->dataFromFile.str());
                std::printf("\n");
            }
        }
    }
}

int list(const char* path) {
    StderrLog log;
    ExeImage* image = ExeImage::loadFromFile(path, &log);
    if (!image) return 1;
    const ExeNtHeader& nt = image->ntHeaders();
    std::printf("%s: %s, %u bytes, %d sections, section alignment 0x%x, file alignment 0x%x\n", path,
                nt.isPe32Plus() ? "PE32+" : "PE32", image->fileSize(), image->sections().count(),
                nt.sectionAlignment(), nt.fileAlignment());
    std::printf("  %-8s %10s %10s %10s %10s\n", "section", "address", "vsize", "file pos", "raw size");
    for (int i = 0; i < image->sections().count(); i++) {
        const ExeSection* s = image->sections().get(i);
        char name[9];
        s->name(name);
        std::printf("  %-8s %#10x %#10x %#10x %#10x\n", name, s->virtualAddress(), s->virtualSize(),
                    s->pointerToRawData(), s->sizeOfRawData());
    }
    if (image->overlaySize()) std::printf("  overlay: %u bytes\n", image->overlaySize());
    if (image->resources()) {
        std::printf("resources:\n");
        printTree(image->resources(), 1);
    } else {
        std::printf("no resources\n");
    }
    delete image;
    return 0;
}

int usage() { return usageError("pe", ""); }

bool splitPair(const char* arg, std::string* name, std::string* value) {
    const char* eq = std::strchr(arg, '=');
    if (!eq || eq == arg) return false;
    name->assign(arg, size_t(eq - arg));
    value->assign(eq + 1);
    return true;
}

int add(int argc, char** argv) {
    if (argc < 2) return usage();
    StderrLog log;
    ExeImage* image = ExeImage::loadFromFile(argv[0], &log);
    if (!image) return 1;
    bool ok = true;
    const char* iconPath = nullptr;
    for (int i = 2; ok && i < argc; i++) {
        std::string opt = argv[i], name, value;
        if (i + 1 >= argc) {
            delete image;
            return usage();
        }
        const char* arg = argv[++i];
        if (opt == "--remove") {
            image->removeNamed(arg);
            continue;
        }
        if (opt == "--icon") {
            iconPath = arg;  // applied after every other change, as a build does
            continue;
        }
        if (!splitPair(arg, &name, &value)) {
            std::fprintf(stderr, "orvanta pe add: %s needs NAME=VALUE, got \"%s\"\n", opt.c_str(), arg);
            delete image;
            return 2;
        }
        if (opt == "--text") {
            ok = image->addNamedData(name.c_str(), value.c_str(), uint32_t(value.size() + 1), &log);
        } else if (opt == "--bytes") {
            DataBuffer bytes;
            ok = bytes.loadFile(value.c_str(), &log) &&
                 image->addNamedData(name.c_str(), bytes.data(), bytes.length(), &log);
        } else if (opt == "--file") {
            ok = image->addNamedFile(name.c_str(), value.c_str(), &log);
        } else {
            delete image;
            return usage();
        }
    }
    if (ok && iconPath && !IconResource().replaceIcon(*image, iconPath))
        std::fprintf(stderr, "warning: icon not replaced: \"%s\" is missing, empty or not a usable .ico file, "
                             "or the program has no icon to replace\n", iconPath);
    if (ok) ok = image->writeToFile(argv[1], nullptr, &log);
    delete image;
    return ok ? 0 : 1;
}

int get(const char* path, const char* name) {
    StderrLog log;
    ExeImage* image = ExeImage::loadFromFile(path, &log);
    if (!image) return 1;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    bool ok = image->findNamedResourceData(name, &data, &size, &log);
    platform::setStdoutBinary();
    if (ok && size) ok = std::fwrite(data, 1, size, stdout) == size;
    delete image;
    return ok ? 0 : 1;
}

}  // namespace

int runPeCommand(int argc, char** argv) {
    if (argc < 1) return usage();
    std::string verb = argv[0];
    if (verb == "list" && argc == 2) return list(argv[1]);
    if (verb == "get" && argc == 3) return get(argv[1], argv[2]);
    if (verb == "add") return add(argc - 1, argv + 1);
    return usage();
}
