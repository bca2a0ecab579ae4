// orvanta: the command-line tool. Each verb lives in its own file.
#include <cstdio>
#include <cstring>

#include "cli/pe_command.h"
#include "cli/sfx_command.h"
#include "cli/zip_command.h"
#include "support/platform.h"

int main(int argc, char** argv) {
    // Ctrl+C and the like take the temporary file being written with them.
    platform::removeTemporaryOnInterrupt();
    if (argc >= 2 && std::strcmp(argv[1], "pe") == 0) return runPeCommand(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "sfx") == 0) return runSfxCommand(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "zip") == 0) return runZipCommand(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "list") == 0) return runListCommand(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "unzip") == 0) return runUnzipCommand(argc - 2, argv + 2);
    std::fprintf(stderr,
                 "usage: orvanta pe list|get|add ...   inspect and change an executable's resources\n");
    std::fputs(kZipUsage, stderr);
    std::fputs(kSfxUsage, stderr);
    return 2;
}
