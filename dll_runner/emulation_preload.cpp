// Preloaded into wine's 32-bit loader when the loader runs under user-mode
// emulation (qemu-i386-static), on kernels that run no 32-bit programs.
// Three things the emulator does otherwise than a kernel would, and wine
// relies on, are mended here at the C library's door:
//
// 1. Every new Windows process is a new 32-bit loader, which wine starts
//    itself (execv of its own path). The kernel could not run it, so every
//    32-bit program wine starts is started through the emulator again, with
//    this library preloaded into it as well.
// 2. mmap with MAP_FIXED_NOREPLACE: the emulator takes the address as a mere
//    hint and maps elsewhere when the place is taken, where the kernel fails
//    with EEXIST; wine would then take a foreign place for the area it asked
//    for. Here the call fails as the kernel's does.
// 3. The signal frame of a fault carries the trap number -1; wine tells a
//    page fault it must handle (a guard page, a page to copy on write) from
//    other faults by that number. Here it gets the number the kernel gives.
//
// Built for i386 Linux by the Windows build (dll_runner/CMakeLists.txt) and
// used only by dll_runner/run-32bit.sh.in.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <climits>

extern char** environ;

namespace {

#ifndef MAP_FIXED_NOREPLACE
constexpr int MAP_FIXED_NOREPLACE = 0x100000;
#endif

// "LD_PRELOAD=<this library>", handed to every emulated child.
char preloadSetting[PATH_MAX + 16] = "LD_PRELOAD=";
const char* emulator = "/usr/bin/qemu-i386-static";

bool isI386Program(const char* path) {
    unsigned char header[20];
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t got = read(fd, header, sizeof header);
    close(fd);
    // ELF, 32-bit class, machine 3 (i386), little-endian.
    return got == static_cast<ssize_t>(sizeof header) && memcmp(header, "\177ELF\001", 5) == 0 &&
           header[18] == 3 && header[19] == 0;
}

int emulatedExec(const char* path, char* const argv[], char* const envp[]) {
    int count = 0;
    while (argv[count] != nullptr) ++count;
    // emulator -E LD_PRELOAD=... -0 argv0 path argv1...
    char** args = static_cast<char**>(malloc((count + 7) * sizeof *args));
    if (args == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    int n = 0;
    args[n++] = const_cast<char*>(emulator);
    args[n++] = const_cast<char*>("-E");
    args[n++] = preloadSetting;
    args[n++] = const_cast<char*>("-0");
    args[n++] = count > 0 ? argv[0] : const_cast<char*>(path);
    args[n++] = const_cast<char*>(path);
    for (int i = 1; i < count; ++i) args[n++] = argv[i];
    args[n] = nullptr;
    syscall(SYS_execve, emulator, args, envp);
    const int error = errno;
    free(args);
    errno = error;
    return -1;
}

void* (*libcMmap64)(void*, size_t, int, int, int, off64_t);
int (*libcSigaction)(int, const struct sigaction*, struct sigaction*);

using Handler = void (*)(int, siginfo_t*, void*);
Handler wineHandler[NSIG];

// The trap numbers of the x86 exceptions behind each signal.
int trapNumberFor(int signal, const siginfo_t* info) {
    switch (signal) {
        case SIGSEGV: return info->si_code == SI_KERNEL ? 13 : 14;  // protection, page fault
        case SIGBUS: return 17;                                    // alignment check
        case SIGILL: return 6;                                     // invalid opcode
        case SIGTRAP: return info->si_code == TRAP_BRKPT || info->si_code == SI_KERNEL ? 3 : 1;
        case SIGFPE:
            if (info->si_code == FPE_INTDIV) return 0;
            if (info->si_code == FPE_INTOVF) return 4;
            return 19;  // SIMD floating point
        default: return -1;
    }
}

void withTrapNumber(int signal, siginfo_t* info, void* context) {
    auto* frame = static_cast<ucontext_t*>(context);
    if (static_cast<int>(frame->uc_mcontext.gregs[REG_TRAPNO]) == -1)
        frame->uc_mcontext.gregs[REG_TRAPNO] = trapNumberFor(signal, info);
    wineHandler[signal](signal, info, context);
}

bool carriesTrapNumber(int signal) {
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGTRAP ||
           signal == SIGFPE;
}

__attribute__((constructor)) void takeOver() {
    Dl_info self;
    if (dladdr(reinterpret_cast<void*>(&takeOver), &self) != 0 && self.dli_fname != nullptr)
        strncat(preloadSetting, self.dli_fname, PATH_MAX);
    const char* asked = getenv("QUORVANE_QEMU_I386");
    if (asked != nullptr && *asked != '\0') emulator = asked;
    libcMmap64 = reinterpret_cast<decltype(libcMmap64)>(dlsym(RTLD_NEXT, "mmap64"));
    libcSigaction = reinterpret_cast<decltype(libcSigaction)>(dlsym(RTLD_NEXT, "sigaction"));
    // Loaded now: the 64-bit programs wine starts (its server) must not be
    // asked to preload a 32-bit library.
    unsetenv("LD_PRELOAD");
}

}  // namespace

extern "C" {

int execve(const char* path, char* const argv[], char* const envp[]) noexcept {
    if (isI386Program(path)) return emulatedExec(path, argv, envp);
    return static_cast<int>(syscall(SYS_execve, path, argv, envp));
}

int execv(const char* path, char* const argv[]) noexcept { return execve(path, argv, environ); }

int execvp(const char* file, char* const argv[]) noexcept {
    if (strchr(file, '/') != nullptr) return execve(file, argv, environ);
    const char* search = getenv("PATH");
    if (search == nullptr) search = "/bin:/usr/bin";
    char candidate[PATH_MAX];
    for (const char* dir = search;; ++dir) {
        const char* end = strchrnul(dir, ':');
        const size_t length = static_cast<size_t>(end - dir);
        if (length + 1 + strlen(file) < sizeof candidate) {
            memcpy(candidate, dir, length);
            candidate[length] = '/';
            strcpy(candidate + length + 1, file);
            execve(candidate, argv, environ);
        }
        if (*end == '\0') break;
        dir = end;
    }
    errno = ENOENT;
    return -1;
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, off64_t offset) noexcept {
    if ((flags & MAP_FIXED_NOREPLACE) == 0) return libcMmap64(address, length, protection, flags, fd, offset);
    void* placed = libcMmap64(address, length, protection, flags & ~MAP_FIXED_NOREPLACE, fd, offset);
    if (placed == MAP_FAILED || placed == address) return placed;
    munmap(placed, length);
    errno = EEXIST;
    return MAP_FAILED;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) noexcept {
    return mmap64(address, length, protection, flags, fd, offset);
}

int sigaction(int signal, const struct sigaction* action, struct sigaction* previous) noexcept {
    if (!carriesTrapNumber(signal)) return libcSigaction(signal, action, previous);
    const Handler before = wineHandler[signal];
    const bool wrap = action != nullptr && (action->sa_flags & SA_SIGINFO) != 0;
    struct sigaction wrapped;
    if (wrap) {
        wrapped = *action;
        wrapped.sa_sigaction = &withTrapNumber;
    }
    const int result = libcSigaction(signal, wrap ? &wrapped : action, previous);
    if (result != 0) return result;
    if (previous != nullptr && (previous->sa_flags & SA_SIGINFO) != 0 &&
        previous->sa_sigaction == &withTrapNumber)
        previous->sa_sigaction = before;
    if (action != nullptr) wineHandler[signal] = wrap ? action->sa_sigaction : nullptr;
    return 0;
}

}  // extern "C"
