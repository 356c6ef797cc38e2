#define FENDRAL_BUILD
#include "fendral.h"

#include <string.h>

_Static_assert(sizeof(float) == 4, "setBitFloat copies a 32-bit float");
_Static_assert(sizeof(int32_t) == 4 && sizeof(uint32_t) == 4, "words are 32 bits");

/* Widths above 31 take the whole word; any other width counts by its low
   five bits, so 0 and -32 give an empty mask and -1 acts as 31. */
static uint32_t fieldMask(int32_t bitWidth)
{
    if (bitWidth > 31)
        return 0xFFFFFFFFu;
    return (1u << ((uint32_t)bitWidth & 31u)) - 1u;
}

FENDRAL_API void FENDRAL_CALL setBit(int32_t *word, int32_t bitPos, int32_t bitWidth, int32_t value)
{
    /* Unsigned throughout: shifting a signed value into bit 31 is undefined.
       uint32_t may alias the int32_t word, so this is one read and one write. */
    const uint32_t field = ((uint32_t)value & fieldMask(bitWidth)) << ((uint32_t)bitPos & 31u);
    *(uint32_t *)word |= field;
}

FENDRAL_API void FENDRAL_CALL setBitFloat(uint32_t *word, float value)
{
    /* A copy of the bits, never a conversion: -0, infinities and NaN payloads
       arrive as passed. */
    memcpy(word, &value, sizeof *word);
}

FENDRAL_API int32_t FENDRAL_CALL getBit(const int32_t *word, int32_t bitPos, int32_t bitWidth)
{
    const uint32_t w = *(const uint32_t *)word;
    const uint32_t shift = (uint32_t)bitPos & 31u;
    /* Arithmetic shift spelled out in unsigned terms: >> of a negative number
       is implementation-defined in C. */
    const uint32_t shifted = (w & 0x80000000u) ? ~(~w >> shift) : w >> shift;
    const uint32_t field = shifted & fieldMask(bitWidth);
    /* Same reason: converting a value above INT32_MAX is implementation-defined. */
    int32_t result;
    memcpy(&result, &field, sizeof result);
    return result;
}
