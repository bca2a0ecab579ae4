// A program to put into test archives: the self-extractor starts it after
// unzipping, and it writes down how it was started. Its first argument is
// the report file; without arguments it writes ran.txt beside itself.
// Report lines: "cmdline=" the full command line, "cwd=" the current
// folder, "module=" its own path.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char module[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, module, sizeof module);
    char cwd[MAX_PATH * 2] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);
    std::string report;
    if (__argc >= 2) {
        report = __argv[1];
    } else {
        report = module;
        report = report.substr(0, report.find_last_of('\\') + 1) + "ran.txt";
    }
    FILE* f = std::fopen(report.c_str(), "wb");
    if (!f) return 1;
    std::fprintf(f, "cmdline=%s\ncwd=%s\nmodule=%s\n", GetCommandLineA(), cwd, module);
    std::fclose(f);
    return 0;
}
