// `orvanta sfx build|inspect|extract`: self-extracting executables from
// the command line. `build` runs the builder's sequence (the log context
// named after the matching COM method, the stub copied out of the tool's
// carrier, the worker's build); `inspect` reads the parameter resources
// the stub would read; `extract` unpacks natively through the stub's own
// logic and names the program the self-extractor would start instead of
// starting it. Returns the exit code: 0 success, 1 failure (the reason on
// standard error), 2 bad usage.
#pragma once

int runSfxCommand(int argc, char** argv);

// The usage lines of the three sfx verbs.
extern const char kSfxUsage[];
