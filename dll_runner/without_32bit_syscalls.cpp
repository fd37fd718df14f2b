// without_32bit_syscalls COMMAND [ARGS...]: runs COMMAND, and everything it
// starts, as on a kernel that runs no 32-bit programs: the first system call
// any process makes through the 32-bit interface kills it.
//
// So a machine whose kernel does run 32-bit programs can still show that the
// emulated runner needs nothing of them: under this, wine started directly
// dies at once, and a run that passes ran every 32-bit instruction in the
// emulator. A native Linux program of the Windows build, built with the
// build machine's compiler (dll_runner/CMakeLists.txt).
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: without_32bit_syscalls COMMAND [ARGS...]\n");
        return 2;
    }
    // A seccomp filter sees which interface each call came through; it is
    // inherited by every child and survives every exec.
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        std::fprintf(stderr, "without_32bit_syscalls: cannot install the filter: %s\n", std::strerror(errno));
        return 1;
    }
    execvp(argv[1], argv + 1);
    std::fprintf(stderr, "without_32bit_syscalls: cannot run %s: %s\n", argv[1], std::strerror(errno));
    return 127;
}
