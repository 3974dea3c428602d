// What the shipped modules (the component, the stand-in common library) take from the C++ runtime
// instead of the static library's own pieces, which drag in far more than these modules use.
//
// Linked into the shipped DLLs only, never into test programs, which keep the library's versions.
//
// - The failure helpers of the standard library (std::__throw_length_error and its kin). The
//   library's own construct the exception classes with messages, which pulls in the old
//   copy-on-write string, std::random_device and the narrow string's whole instantiation (about
//   50 KB). In these modules every exception ends in one catch-all guard (rt::Guarded, the trap,
//   the thread's context), which answers any of them as running out of memory; so each helper
//   throws std::bad_alloc, what that guard reports for all of them anyway.
// - The terminate handler. The library's verbose one prints the type of the exception that ended
//   the process, demangled, to a standard error stream that a DLL loaded into a GUI host or a script
//   host does not have; the demangler and the C runtime's formatting are a sixth of the DLL. A
//   module whose guards let nothing escape never gets there; if it ever did, the process ends the
//   same way, by abort.
#include <cstdlib>
#include <new>

namespace {
[[noreturn]] void Fail() { throw std::bad_alloc(); }
} // namespace

namespace std {
void __throw_bad_alloc() { Fail(); }
void __throw_bad_array_new_length() { Fail(); }
void __throw_bad_cast() { Fail(); }
void __throw_bad_typeid() { Fail(); }
void __throw_bad_exception() { Fail(); }
void __throw_logic_error(const char *) { Fail(); }
void __throw_domain_error(const char *) { Fail(); }
void __throw_invalid_argument(const char *) { Fail(); }
void __throw_length_error(const char *) { Fail(); }
void __throw_out_of_range(const char *) { Fail(); }
void __throw_out_of_range_fmt(const char *, ...) { Fail(); }
void __throw_runtime_error(const char *) { Fail(); }
void __throw_range_error(const char *) { Fail(); }
void __throw_overflow_error(const char *) { Fail(); }
void __throw_underflow_error(const char *) { Fail(); }
} // namespace std

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx

// The two interface identifiers every automation object answers to. The import library's own
// definitions sit in one object with a few hundred others (6 KB); the values are COM's.
#include <guiddef.h>
extern "C" {
extern const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
extern const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}
