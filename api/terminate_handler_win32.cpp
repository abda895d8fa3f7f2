// No exception ever leaves the library's functions, so the C++ runtime's
// default terminate handler, which prints the exception's demangled type
// name, is never of use here; linking it statically would bring a demangler
// of some 46 KB into the DLL. This plain one takes its place.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
