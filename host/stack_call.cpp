#include "host/stack_call.h"

namespace standin {

namespace {
int32_t misalignmentBytes = 0;
}

void setStackMisalignment(int32_t bytes) { misalignmentBytes = bytes & 12; }
int32_t stackMisalignment() { return misalignmentBytes; }

}  // namespace standin

#if defined(__i386__)
// At the call instruction the stack pointer sits `misalignment` bytes below a
// 16-byte boundary, with the argument words on top.
#if defined(_WIN32)
#define QV_ASM_NAME "_qvCallMisaligned"
#else
#define QV_ASM_NAME "qvCallMisaligned"
#endif
asm(".text\n"
    ".globl " QV_ASM_NAME "\n" QV_ASM_NAME ":\n"
    "    push %ebp\n"
    "    mov %esp, %ebp\n"
    "    push %esi\n"
    "    push %edi\n"
    "    push %ebx\n"
    "    mov 12(%ebp), %esi\n"
    "    mov 16(%ebp), %ecx\n"
    "    mov 20(%ebp), %edx\n"
    "    lea 0(,%ecx,4), %ebx\n"
    "    mov %esp, %edi\n"
    "    sub %ebx, %edi\n"
    "    sub $32, %edi\n"
    "    and $-16, %edi\n"
    "    sub %edx, %edi\n"
    "    mov %edi, %esp\n"
    "    xor %edx, %edx\n"
    "1:  cmp %ecx, %edx\n"
    "    jge 2f\n"
    "    mov (%esi,%edx,4), %ebx\n"
    "    mov %ebx, (%esp,%edx,4)\n"
    "    inc %edx\n"
    "    jmp 1b\n"
    "2:  mov 8(%ebp), %eax\n"
    "    call *%eax\n"
    "    lea -12(%ebp), %esp\n"
    "    pop %ebx\n"
    "    pop %edi\n"
    "    pop %esi\n"
    "    pop %ebp\n"
    "    ret\n");
#endif
