// Calling conventions and attributes at the boundary with the host.
//
// The host is a 32-bit Windows program. It calls our exports and record
// entries with the C calling convention and only guarantees 4-byte stack
// alignment, while the SSE2 code GCC emits assumes 16: every function the host
// calls realigns the stack on entry. A "call request" event hands us the
// address of a member operation, which on the 32-bit target means thiscall
// (object in ECX).
#pragma once

#if defined(__i386__)
#define QV_HOST_ENTRY __attribute__((cdecl, force_align_arg_pointer))
#define QV_THISCALL __attribute__((thiscall))
#else
#define QV_HOST_ENTRY
#define QV_THISCALL
#endif

#if defined(_WIN32)
#define QV_EXPORT extern "C" __declspec(dllexport)
#else
#define QV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#if defined(__i386__) && defined(_WIN32)
#define QV_TARGET_LAYOUT 1  // the shipped 32-bit layout, checked byte for byte
#else
#define QV_TARGET_LAYOUT 0
#endif
