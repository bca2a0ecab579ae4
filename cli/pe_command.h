// `orvanta pe`: the PE image model at work from the command line.
#pragma once

int runPeCommand(int argc, char** argv);
