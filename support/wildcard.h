// The wildcard rules of the Win32 file search, for the POSIX substitute of
// that search and for test doubles that stand in for it: "*" any run, "?"
// one character (one UTF-8 sequence), ASCII case ignored, and a "."
// followed by nothing but wildcards also matches the end of a name without
// one ("*.*" matches "readme"). Works bottom-up over (pattern position,
// name position), so no pattern of many stars takes exponential time.
#pragma once

#include <string>

bool wildcardMatches(const std::string& pattern, const std::string& name);
