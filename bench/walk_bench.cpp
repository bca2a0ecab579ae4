// Walks a folder tree with the file-system helper's walk (every item, files
// and folders, recursively, as a script's For Each over the Enumerator does)
// and prints the number of items and the seconds taken. bench/run_walk
// compares it with find on the same tree and reads its peak memory.
//   walk_bench ROOT
#include <chrono>
#include <cstdio>

#include "filesys/item_walk.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: walk_bench ROOT\n");
        return 2;
    }
    filesys::WalkSettings settings;
    settings.setRootPath(std::string(argv[1]) + "/");
    settings.setNameMask(std::string("*"));
    settings.setRecurse(-1);
    auto start = std::chrono::steady_clock::now();
    filesys::ItemWalk walk(settings);
    filesys::WalkItem item;
    unsigned long long items = 0;
    size_t deepest = 0;
    while (walk.next(&item)) {
        ++items;
        if (walk.depth() > deepest) deepest = walk.depth();
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%llu %.4f %zu\n", items, seconds, deepest);
    return 0;
}
