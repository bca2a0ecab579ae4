// orvanta: the command-line tool. Each verb lives in its own file.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/pe_command.h"
#include "cli/sfx_command.h"
#include "cli/usage.h"
#include "cli/zip_command.h"
#include "support/platform.h"

int main(int argc, char** argv) {
    // Ctrl+C and the like take the temporary file being written with them.
    platform::removeTemporaryOnInterrupt();
    if (argc < 2) {
        printShortUsage(stderr);
        return 2;
    }
    const std::string verb = argv[1];
    if (verb == "--help" || verb == "-h" || verb == "help") {
        if (argc == 2) {
            printFullUsage(stdout);
            return 0;
        }
        std::string asked = argv[2];
        if (asked == "sfx" && argc > 3) asked += std::string(" ") + argv[3];
        const char* text = usageOf(asked);
        if (!text) {
            std::fprintf(stderr, "orvanta: unknown command %s\n", asked.c_str());
            printShortUsage(stderr);
            return 2;
        }
        std::fputs(text, stdout);
        return 0;
    }
    if (verb == "--version") {
        std::printf("orvanta %s\n", kOrvantaVersion);
        return 0;
    }
    // VERB --help: that verb's usage only.
    std::string full = verb;
    int first = 2;
    if (verb == "sfx" && argc > 2 && usageOf(verb + " " + argv[2])) {
        full += std::string(" ") + argv[2];
        first = 3;
    }
    if (usageOf(full) && asksForHelp(argc - first, argv + first)) {
        std::fputs(usageOf(full), stdout);
        return 0;
    }
    if (verb == "pe") return runPeCommand(argc - 2, argv + 2);
    if (verb == "sfx") return runSfxCommand(argc - 2, argv + 2);
    if (verb == "zip") return runZipCommand(argc - 2, argv + 2);
    if (verb == "list") return runListCommand(argc - 2, argv + 2);
    if (verb == "unzip") return runUnzipCommand(argc - 2, argv + 2);
    std::fprintf(stderr, "orvanta: unknown command %s\n", verb.c_str());
    printShortUsage(stderr);
    return 2;
}
