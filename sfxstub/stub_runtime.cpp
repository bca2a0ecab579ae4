// The stub is built without exceptions (see CMakeLists.txt). These take the
// place of the parts of the C++ runtime library that throw or describe
// exceptions, and that would otherwise bring in the unwinder, a thread
// library, a symbol demangler, stdio and a second string implementation:
// the terminate handler, the library's error throwers and the allocation
// operators. Where the library would throw, the stub ends as it would on an
// uncaught exception; the one allocation whose failure is expected (the zip
// reader's central directory) asks with std::nothrow and gets null.
#include <cstdlib>
#include <new>

namespace {
[[noreturn]] void outOfMemory() { std::abort(); }
}  // namespace

void* operator new(std::size_t n) {
    if (void* p = std::malloc(n ? n : 1)) return p;
    outOfMemory();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
}  // namespace std
