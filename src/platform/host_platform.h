// What the host layer of the console tools offers beyond the launcher's
// platform boundary.
#ifndef KST_HOST_PLATFORM_H
#define KST_HOST_PLATFORM_H

#include "platform/platform.h"

// The ANSI code page that GetACP reports from now on.
void HostSetCodePage(UINT uCodePage);

#endif
