// MP3ENC_KERNEL marks the encoder's hot loops, which are built twice: for AVX2 where the
// processor has it, and plain. Neither uses fused multiply-adds (the library is built
// with -ffp-contract=off), so both give the same bits. ThreadSanitizer builds take the
// plain loops only: the clones' resolvers run before the sanitizer's runtime is ready
// and crash every program that links the encoder.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define MP3ENC_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define MP3ENC_KERNEL
#endif
