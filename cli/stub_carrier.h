// Where the orvanta tool keeps the self-extractor stubs it builds with: the
// PE32 stub as resource 218 and the x86_64 stub as resource 219 of the
// named type "VARNOCK" in a PE module. The Windows builds carry them in
// their own module file; the native build embeds a resource-only PE32
// module (stubcarrier.dll of the i686 tree) as bytes. The build system
// picks the source file that fits the tree.
#pragma once

#include <cstdint>

class LogBase;
class StringBuffer;

// Writes the carried stub `id` (kStubResourceId or kStub64ResourceId) to a
// new unique temporary file, whose path comes back in outPath. False, after
// logging why, when the carrier is unreadable, lacks the stub, or the copy
// cannot be written.
bool extractCarriedStub(uint16_t id, StringBuffer& outPath, LogBase* log);
