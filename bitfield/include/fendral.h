#ifndef FENDRAL_H
#define FENDRAL_H

#include <stdint.h>

/* Linkage: exported when building the library, imported by Windows callers,
   plain declarations everywhere else. */
#ifndef FENDRAL_API
#if defined(_WIN32)
#if defined(FENDRAL_BUILD)
#define FENDRAL_API __declspec(dllexport)
#else
#define FENDRAL_API __declspec(dllimport)
#endif
#elif defined(FENDRAL_BUILD) && defined(__GNUC__)
#define FENDRAL_API __attribute__((visibility("default")))
#else
#define FENDRAL_API
#endif
#endif

/* Calling convention: callee pops, as the system libraries do, on 32-bit
   Windows only. */
#ifndef FENDRAL_CALL
#if defined(_WIN32) && !defined(_WIN64)
#define FENDRAL_CALL __stdcall
#else
#define FENDRAL_CALL
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ORs the low bitWidth bits of value into *word at bit bitPos; bits already
   set stay set. */
FENDRAL_API void FENDRAL_CALL setBit(int32_t *word, int32_t bitPos, int32_t bitWidth,
                                     int32_t value);

/* Replaces *word with the bit pattern of value. The word holds raw bits, not
   an integer, hence unsigned. */
FENDRAL_API void FENDRAL_CALL setBitFloat(uint32_t *word, float value);

/* Returns the bitWidth bits of *word from bit bitPos, the word shifted
   arithmetically, so a field past bit 31 of a negative word reads ones. */
FENDRAL_API int32_t FENDRAL_CALL getBit(const int32_t *word, int32_t bitPos, int32_t bitWidth);

#ifdef __cplusplus
}
#endif

#endif /* FENDRAL_H */
