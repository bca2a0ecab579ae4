// WalkSettings is header-only data; this unit keeps the library's layout
// (one .cpp per header) and checks that copies stay independent values.
#include "filesys/walk_settings.h"

#include <type_traits>

static_assert(std::is_copy_constructible<filesys::WalkSettings>::value, "settings are copied by value");
