#include "cli/sfx_command.h"

#include <cstdio>

int runSfxCommand(int, char**) {
    std::fputs("orvanta sfx: not built yet\n", stderr);
    return 2;
}
