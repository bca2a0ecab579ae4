// The tool's usage texts, one per verb, and its version: the one place
// where the command line is described to the user.
#pragma once

#include <cstdio>
#include <string>

// The version the tool reports (orvanta --version).
extern const char kOrvantaVersion[];

// The usage of one verb ("zip", "list", "unzip", "sfx build",
// "sfx inspect", "sfx extract", "pe"); null for an unknown verb.
const char* usageOf(const std::string& verb);
// Every verb's usage, for orvanta --help.
void printFullUsage(std::FILE* out);
// The short list of commands, after an unknown command.
void printShortUsage(std::FILE* out);
// A usage error: "orvanta VERB: PROBLEM", then that verb's usage, on
// standard error. Returns the exit status of a usage error (2).
int usageError(const std::string& verb, const std::string& problem);
// True when the arguments ask for help (-h or --help before any "--").
bool asksForHelp(int argc, char** argv);
