// The desktop program's zip engine on its own, for bench/run_engine:
//   engine_bench zip FOLDER OUT.zip     new archive of the folder's contents, recursive
//   engine_bench unzip ARCHIVE FOLDER   open and unzip into the folder
// Prints the seconds taken; failures end with the engine's message.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "zipengine/zip_engine.h"

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "zip") != 0 && std::strcmp(argv[1], "unzip") != 0)) {
        std::fprintf(stderr, "usage: engine_bench zip FOLDER OUT.zip | unzip ARCHIVE FOLDER\n");
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    try {
        ZipEngine engine;
        if (argv[1][0] == 'z') {
            engine.newArchive(argv[3]);
            engine.addFolderContents(argv[2], true);
            engine.setPasswordProtection(false);
            engine.setPassword("");
            engine.setOutputName(argv[3]);
            engine.writeArchive();
        } else {
            engine.setPassword("");
            engine.openZip(argv[2]);
            engine.unzipToFolder(argv[3]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "engine_bench: %s\n", e.what());
        return 1;
    }
    std::printf("%.3f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
