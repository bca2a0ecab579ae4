// `orvanta sfx build|inspect|extract`: self-extracting executables from
// the command line. `build` runs the builder's sequence (the log context
// named after the matching COM method, the stub the tool carries, the
// worker's build); `inspect` reads the parameter resources
// the stub would read; `extract` unpacks natively through the stub's own
// logic and names the program the self-extractor would start instead of
// starting it. Returns the exit code: 0 success, 1 failure (the reason on
// standard error), 2 bad usage.
#pragma once

#include <string>

int runSfxCommand(int argc, char** argv);

// For a file that the zip reader cannot open: true with a one-line hint
// when it is a self-extractor, whose archive is inside its resources
// ("X is an encrypted self-extractor: unpack it with orvanta sfx extract
// X"; for a plain one, sfx inspect and sfx extract). False for anything
// else (no executable, or one without a "zip" resource).
bool describeSelfExtractor(const std::string& path, std::string* hint);
