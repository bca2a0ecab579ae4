// `orvanta zip`, `orvanta list` and `orvanta unzip`: the zip library from
// the command line. Each returns the process exit code (0 success, 1
// failure, 2 bad usage) and reports failures on standard error, naming the
// file or entry and the reason.
#pragma once

int runZipCommand(int argc, char** argv);
int runListCommand(int argc, char** argv);
int runUnzipCommand(int argc, char** argv);

