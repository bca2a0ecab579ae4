// `orvanta sfx build|inspect|extract`: self-extracting executables from
// the command line.
#pragma once

int runSfxCommand(int argc, char** argv);
