#include "cli/usage.h"

#include <cstring>

const char kOrvantaVersion[] = "0.9.0";

namespace {

struct VerbUsage {
    const char* verb;
    const char* text;
};

const VerbUsage kUsages[] = {
    {"zip",
     "usage: orvanta zip OUT.zip PATH... [-r] [-l LEVEL]\n"
     "                  [-e | -p PASSWORD | --password-file FILE] [--aes | --zipcrypto]\n"
     "  Packs files, and with -r folders with everything in them, into a new archive\n"
     "  (a folder without -r is stored without its contents). The archive is written\n"
     "  beside OUT.zip and renamed into place only when everything worked.\n"
     "  -l LEVEL              0 (store) to 9, default 6; files that do not shrink are stored\n"
     "  -e, --encrypt         encrypt every file; the password is asked on the terminal\n"
     "  -p, --password PW     encrypt with PW (other users can see it in the process list)\n"
     "  --password-file FILE  encrypt with the first line of FILE\n"
     "  --aes                 AES-256, the default: opens with 7-Zip and similar tools\n"
     "  --zipcrypto           the traditional cipher, for Info-ZIP unzip and Windows'\n"
     "                        built-in zip folders; weak\n"},
    {"list",
     "usage: orvanta list ZIP [-p PASSWORD | --password-file FILE]\n"
     "  Lists the entries; with a password, also checks every entry's contents.\n"},
    {"unzip",
     "usage: orvanta unzip ZIP [-d DIR] [-p PASSWORD | --password-file FILE] [-o | -n]\n"
     "  Extracts every entry into DIR (default: the current folder). An entry that\n"
     "  needs a password when none was given asks for it on a terminal.\n"
     "  -o  replace existing files\n"
     "  -n  keep existing files\n"
     "  Without -o or -n a terminal is asked about each existing file; elsewhere the\n"
     "  file is not replaced and the entry fails.\n"},
    {"sfx build",
     "usage: orvanta sfx build ZIP|FOLDER OUT.exe [--title T] [--caption C] [--unzip-dir D]\n"
     "           [--run PROGRAM [--run-in-place]] [--params P] [--silent] [--icon ICO]\n"
     "           [-e | -p PW | --password-file FILE] [--key-bits N] [--x64] [--log LOG.xml]\n"
     "  Writes a self-extracting executable carrying ZIP (a FOLDER is zipped first,\n"
     "  with everything in it). It asks where to unzip in a dialog, unless:\n"
     "  --unzip-dir D         it unpacks into D, showing only its progress\n"
     "  --run PROGRAM         it unpacks into D or a new temporary folder and starts\n"
     "                        PROGRAM from there (with --params P)\n"
     "  --run-in-place        keeps the dialog, starts PROGRAM in the folder chosen;\n"
     "                        not with --unzip-dir or --silent, which skip the dialog\n"
     "  --silent              no window at all; needs --unzip-dir or --run\n"
     "  -e, --encrypt         encrypt with AES; the password is typed twice\n"
     "  -p, --password PW     encrypt with PW (other users can see it in the process list)\n"
     "  --password-file FILE  encrypt with the first line of FILE\n"
     "                        The self-extractor asks for the password and opens\n"
     "                        entries encrypted inside ZIP with it too.\n"
     "  --key-bits N          128, 192 or 256 bits (default 256); any other N gives\n"
     "                        the next of them up, and 256 above 256\n"
     "  --x64                 use the x86_64 stub\n"
     "  --log LOG.xml         save the activity log as XML, also after a failure\n"},
    {"sfx inspect",
     "usage: orvanta sfx inspect EXE [--json]\n"
     "  Shows the settings a self-extractor carries, the start-up mode they give,\n"
     "  and the entries of its archive (not of an encrypted one).\n"},
    {"sfx extract",
     "usage: orvanta sfx extract EXE [-d DIR] [-p PASSWORD | --password-file FILE] [-o | -n]\n"
     "  Unpacks a self-extractor without running it (default DIR: the current\n"
     "  folder); the program it would start is only named. An encrypted one asks\n"
     "  for its password on a terminal unless -p (--password) or --password-file\n"
     "  gives it. Existing files as for unzip.\n"},
    {"pe",
     "usage: orvanta pe list EXE\n"
     "       orvanta pe get EXE NAME           (writes the resource's bytes to standard output)\n"
     "       orvanta pe add IN OUT [--text NAME=TEXT] [--bytes NAME=FILE] [--file NAME=FILE]\n"
     "                           [--remove NAME] ... [--icon ICO]\n"
     "  --text adds TEXT and a zero byte, --bytes a copy of FILE's bytes, --file FILE's\n"
     "  content read when OUT is written; all in the order given. --icon replaces the\n"
     "  first icon and icon group with the first image of ICO after all the others;\n"
     "  an icon file that cannot be used leaves the program's icon (with a warning).\n"},
};

}  // namespace

const char* usageOf(const std::string& verb) {
    for (const VerbUsage& u : kUsages)
        if (verb == u.verb) return u.text;
    if (verb == "sfx") {  // the three sfx verbs together
        static const std::string all = std::string(usageOf("sfx build")) + usageOf("sfx inspect") + usageOf("sfx extract");
        return all.c_str();
    }
    return nullptr;
}

void printShortUsage(std::FILE* out) {
    std::fputs("usage: orvanta COMMAND [ARGS]\n"
               "commands: zip, list, unzip, sfx build, sfx inspect, sfx extract, pe\n"
               "orvanta help COMMAND (or COMMAND --help) shows a command's usage; orvanta --version\n",
               out);
}

void printFullUsage(std::FILE* out) {
    std::fprintf(out, "orvanta %s: zip archives and self-extractors\n\n", kOrvantaVersion);
    for (const VerbUsage& u : kUsages) std::fprintf(out, "%s\n", u.text);
    std::fputs("Options may stand before or after the paths; \"--\" ends the options; long\n"
               "options take their value as the next argument or after \"=\".\n",
               out);
}

int usageError(const std::string& verb, const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "orvanta %s: %s\n", verb.c_str(), problem.c_str());
    const char* text = usageOf(verb);
    if (text) std::fputs(text, stderr);
    else printShortUsage(stderr);
    return 2;
}

bool asksForHelp(int argc, char** argv) {
    for (int i = 0; i < argc; i++) {
        if (!std::strcmp(argv[i], "--")) return false;
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) return true;
    }
    return false;
}
