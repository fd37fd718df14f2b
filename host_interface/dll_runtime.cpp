// What the shipped DLL takes of a C and C++ runtime, and nothing more.
//
// The DLL is linked without the compiler's start-up files and libraries:
// they would bring thread and exception machinery, error messages printed to
// a console and a math library, none of which a module needs. What is left
// are these few functions and the C runtime's allocator, copies and
// environment lookup (see tests/target/expected_imports.txt).
#include <cstdlib>
#include <new>

#include <windows.h>

// The process-attach entry (and every other notification): nothing to set
// up. The library has no constructors of its own to run; every global is a
// constant (the Windows build checks that no object carries a constructor
// list).
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// The library allocates only through the no-throw forms and frees what it
// allocated: the ordinary allocator, a null result where memory runs out.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
