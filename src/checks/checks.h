// The checks made before anything is flashed.
#ifndef KST_CHECKS_H
#define KST_CHECKS_H

#include "platform/platform.h"

// Number of bytes kept of a version string.
#define BVSIZE 4
// Size of each read of the image scan.
#define IMAGE_SCAN_BUFFER_SIZE 65536

// 0 on AC power; RC_POWER_OFFLINE when not (or unknown), RC_POWER_UNKNOWN
// when the power status cannot be read.
int CheckAcPower();

// Runs the probe BIOSVER.EXE and reads the machine's version from its answer
// file BV into lpBuffer (zero-filled first). 0, RC_NOT_FOUND,
// RC_MACHINE_VERSION or RC_MACHINE_TIMEOUT.
int GetMachineBiosVersion(LPSTR lpBuffer, DWORD dwSize);

// Finds the version inside the image named by LoaderSettings.ImageFile:
// the four bytes before the first "-0000-". 0, RC_IMAGE_OPEN or
// RC_IMAGE_VERSION.
int GetImageBiosVersion(LPSTR lpBuffer, DWORD dwSize);
// The same for the image named lpImageFile.
int GetImageBiosVersionOf(LPCSTR lpImageFile, LPSTR lpBuffer, DWORD dwSize);

// Called for each marker of an image, front to back, with its offset in the
// file and the BVSIZE bytes before it (NULL for a marker with fewer before
// it, at the start of the file); returns FALSE to end the scan.
typedef BOOL (*MARKERPROC)(unsigned long long qwOffset, const char* lpVersion, void* lpContext);
// The image is read once, front to back, and every marker reported: the
// one scan beneath the version of an image. RC_IMAGE_OPEN when the file
// cannot be opened, else 0.
int ScanImageMarkers(LPCSTR lpImageFile, MARKERPROC lpfnMarker, void* lpContext);

#endif
