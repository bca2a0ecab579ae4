// The texts the common file dialogs take and give, apart from the dialogs:
// the filter ("description|pattern|..." to the NUL-separated pairs the
// dialog wants) and the answer buffer (to the one path, or the folder and
// names separated by NUL, that the window logic reads). Portable, so the
// unit test runs natively too.
#pragma once

#include <cstddef>
#include <string>

// "A|*.a|B|*.b" becomes "A\0*.a\0B\0*.b\0\0". A description without a
// pattern (the last one, when the count is odd) is given "*.*", so the
// dialog still lists every file instead of none.
std::string dialogFilter(const std::string& filter);

// The answer in buffer (size bytes, as the dialog filled it). One path:
// that path. Several files (the folder, NUL, each name, NUL, and a final
// NUL): "folder\0name1\0name2", without the closing NULs. A buffer without
// its closing NUL gives what it holds.
std::string dialogAnswer(const char* buffer, size_t size);
