// The search for the version marker. It runs over every byte of the image,
// so it must be fast whatever the image holds: random data, long runs of
// hyphens or zeros, and near misses like "-0000x" over and over.
#include "checks/markerscan.h"

#include <cstring>

#include "platform/platform.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define KST_SCAN_SSE2 1
#include <emmintrin.h>
#endif

static inline BOOL IsMarkerAt(const char* lpData)
{
    return lpData[0] == '-' && memcmp(lpData + 1, &MARKER[1], MARKER_SIZE - 1) == 0;
}

// Every marker has exactly one of its six bytes at a position
// nStart + 5 + 6k, and every byte of a marker is a hyphen or a zero. So
// only one byte in six is looked at, and a marker is tried only where that
// byte is one of those: starting five bytes before it or at it for a
// hyphen, one to four bytes before it for a zero. The starts are tried
// from the lowest up, so the first one found is the first in the data.
size_t FindMarkerBytewise(const char* lpData, size_t nStart, size_t nEnd)
{
    for (size_t nPos = nStart + MARKER_SIZE - 1; nPos < nEnd + MARKER_SIZE - 1; nPos += MARKER_SIZE) {
        char ch = lpData[nPos];
        if (ch == '-') {
            if (IsMarkerAt(lpData + nPos - (MARKER_SIZE - 1)))
                return nPos - (MARKER_SIZE - 1);
            if (nPos < nEnd && IsMarkerAt(lpData + nPos))
                return nPos;
        } else if (ch == '0') {
            for (size_t nAt = nPos - (MARKER_SIZE - 2); nAt < nPos && nAt < nEnd; nAt++) {
                if (IsMarkerAt(lpData + nAt))
                    return nAt;
            }
        }
    }
    return NO_MARKER;
}

#ifdef KST_SCAN_SSE2

static inline __m128i LoadAt(const char* lpData)
{
    return _mm_loadu_si128((const __m128i*)lpData);
}

// One bit for each of the 16 starts at lpData: set where a whole marker
// starts.
static inline int MarkerMask16(const char* lpData)
{
    const __m128i vHyphen = _mm_set1_epi8('-');
    const __m128i vZero = _mm_set1_epi8('0');
    __m128i v = _mm_cmpeq_epi8(LoadAt(lpData), vHyphen);
    for (int i = 1; i < MARKER_SIZE - 1; i++)
        v = _mm_and_si128(v, _mm_cmpeq_epi8(LoadAt(lpData + i), vZero));
    v = _mm_and_si128(v, _mm_cmpeq_epi8(LoadAt(lpData + MARKER_SIZE - 1), vHyphen));
    return _mm_movemask_epi8(v);
}

// 16 starts at a time. A first sieve keeps only the starts whose last two
// marker bytes ("0-") match; that pair is rare in random data and absent
// from runs of hyphens, of zeros and from "-0000x" repeated, so the whole
// marker is seldom compared. The sieve of 64 starts is merged into one test.
static size_t FindMarkerSieve(const char* lpData, size_t nStart, size_t nEnd)
{
    const __m128i vHyphen = _mm_set1_epi8('-');
    const __m128i vZero = _mm_set1_epi8('0');
    size_t nAt = nStart;
    for (; nAt + 64 <= nEnd; nAt += 64) {
        const char* lp = lpData + nAt + MARKER_SIZE - 2;
        __m128i v0 = _mm_and_si128(_mm_cmpeq_epi8(LoadAt(lp), vZero), _mm_cmpeq_epi8(LoadAt(lp + 1), vHyphen));
        __m128i v1 = _mm_and_si128(_mm_cmpeq_epi8(LoadAt(lp + 16), vZero), _mm_cmpeq_epi8(LoadAt(lp + 17), vHyphen));
        __m128i v2 = _mm_and_si128(_mm_cmpeq_epi8(LoadAt(lp + 32), vZero), _mm_cmpeq_epi8(LoadAt(lp + 33), vHyphen));
        __m128i v3 = _mm_and_si128(_mm_cmpeq_epi8(LoadAt(lp + 48), vZero), _mm_cmpeq_epi8(LoadAt(lp + 49), vHyphen));
        __m128i vAny = _mm_or_si128(_mm_or_si128(v0, v1), _mm_or_si128(v2, v3));
        if (_mm_movemask_epi8(vAny) == 0)
            continue;
        for (size_t nBlock = nAt; nBlock < nAt + 64; nBlock += 16) {
            int nMask = MarkerMask16(lpData + nBlock);
            for (int i = 0; nMask; i++, nMask >>= 1) {
                if (nMask & 1)
                    return nBlock + i;
            }
        }
    }
    return FindMarkerBytewise(lpData, nAt, nEnd);
}

#else

static size_t FindMarkerSieve(const char* lpData, size_t nStart, size_t nEnd)
{
    return FindMarkerBytewise(lpData, nStart, nEnd);
}

#endif

// Where hyphens are few, as in most of an image, the C runtime's memchr
// finds the next one faster than any sieve, and only hyphens can start a
// marker. Where they come thick (DENSE_HYPHENS within DENSE_SPAN bytes),
// a call for each would cost more than the sieve, so the sieve takes the
// next SIEVE_CHUNK starts before memchr is tried again.
#define DENSE_HYPHENS 8
#define DENSE_SPAN (DENSE_HYPHENS * 96)
#define SIEVE_CHUNK 4096

size_t FindMarker(const char* lpData, size_t nStart, size_t nEnd)
{
    size_t nAt = nStart;
    size_t nSpanStart = nStart;
    int nHyphens = 0;
    while (nAt < nEnd) {
        const char* lpHyphen = (const char*)memchr(lpData + nAt, '-', nEnd - nAt);
        if (!lpHyphen)
            return NO_MARKER;
        if (IsMarkerAt(lpHyphen))
            return (size_t)(lpHyphen - lpData);
        nAt = (size_t)(lpHyphen - lpData) + 1;
        if (++nHyphens < DENSE_HYPHENS)
            continue;
        if (nAt - nSpanStart < DENSE_SPAN) {
            size_t nStop = nEnd - nAt > SIEVE_CHUNK ? nAt + SIEVE_CHUNK : nEnd;
            size_t nFound = FindMarkerSieve(lpData, nAt, nStop);
            if (nFound != NO_MARKER)
                return nFound;
            nAt = nStop;
        }
        nSpanStart = nAt;
        nHyphens = 0;
    }
    return NO_MARKER;
}
