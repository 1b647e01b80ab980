// Two pieces of the statically linked C++ runtime, replaced because each
// brings far more into the exe than it does for this program.
//
// Both replace the runtime's own by name: a definition among the exe's own
// objects comes before the library's, whose archive member is then never
// linked. This file must therefore be linked as an object of the exe, not
// from a static library, which the linker would search too late.
#include <cstdlib>
#include <exception>
#include <new>

// When an exception leaves a thread or a noexcept function, the runtime's
// default handler names the exception's type on stderr, demangled, before it
// aborts. A windowed program has no stderr to show it on, and the demangler
// with the printf it uses is a sixth of the exe. This one only aborts.
namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

// The containers and strings report their failures through these. The
// runtime keeps all of them in one object, whose exceptions carry their
// message in a string type of their own: any one of them links that string's
// whole instantiation, and with it a second one. Here an impossible size is
// what it amounts to, an allocation that cannot be made, and the remaining
// errors (an index or a null pointer where the library checks for one) throw
// the base exception. Every handler of the program catches std::bad_alloc or
// everything, so each still ends the way it ended before.
namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }

void __throw_bad_array_new_length() { throw bad_array_new_length(); }

void __throw_length_error(const char*) { throw bad_alloc(); }

void __throw_logic_error(const char*) { throw exception(); }

void __throw_out_of_range_fmt(const char*, ...) { throw exception(); }

}  // namespace std
