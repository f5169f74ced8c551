// The search for the version marker "-0000-" inside a block of the image.
#ifndef KST_MARKERSCAN_H
#define KST_MARKERSCAN_H

#include <cstddef>

#define MARKER "-0000-"
#define MARKER_SIZE 6
#define NO_MARKER ((size_t)-1)

// The lowest offset in [nStart, nEnd) of lpData at which a whole marker
// starts, or NO_MARKER. lpData must hold nEnd + MARKER_SIZE - 1 bytes, so
// that a marker starting at nEnd - 1 lies inside it.
size_t FindMarker(const char* lpData, size_t nStart, size_t nEnd);

// The same search one byte in six, without memchr or vector instructions:
// what FindMarker uses on stretches dense with hyphens where vector
// instructions are missing, and for the few starts left at a block's end.
size_t FindMarkerBytewise(const char* lpData, size_t nStart, size_t nEnd);

#endif
