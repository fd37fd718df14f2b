// Regions of source compiled for an instruction set: every function defined
// between QV_BEGIN_TARGET("avx") and QV_END_TARGET is compiled for AVX, as
// if it carried the target attribute itself (GCC's target pragma, clang's
// attribute pragma). The block kernel's body is included once in each such
// region, in a namespace of its own.
#pragma once

#define QV_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define QV_BEGIN_TARGET(isa) QV_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define QV_END_TARGET QV_PRAGMA(clang attribute pop)
#else
#define QV_BEGIN_TARGET(isa) QV_PRAGMA(GCC push_options) QV_PRAGMA(GCC target(isa))
#define QV_END_TARGET QV_PRAGMA(GCC pop_options)
#endif
