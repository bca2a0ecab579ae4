// Forced into every source the stub is built from (see CMakeLists.txt).
// The standard library's string templates are then instantiated in our own
// objects, where the linker keeps only the members we call, instead of
// being taken whole from the runtime library's prebuilt instantiations.
#pragma once
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
