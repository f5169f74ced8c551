// Result codes of the launch sequence; each is also the process exit code.
// Every failure is the complement of a single bit.
#ifndef KST_RESULTS_H
#define KST_RESULTS_H

#define RC_SUCCESS 0
#define RC_DECLINED 1                  // the user said No at the confirmation
#define RC_HELP (-1)                   // empty command-line tail
#define RC_FLASHER_START (~0x001)      // -2: the flasher did not start
#define RC_FLASHER_WINDOW (~0x002)     // -3: its window did not appear in time
#define RC_FLASH_BUTTON (~0x004)       // -5: its Flash BIOS button is missing
#define RC_MACHINE_VERSION (~0x008)    // -9: no version from the probe
#define RC_NOT_FOUND (~0x020)          // -33: settings file or probe missing
#define RC_IMAGE_VERSION (~0x040)      // -65: no version in the image
#define RC_IMAGE_OPEN (~0x080)         // -129: image cannot be opened
#define RC_MACHINE_TIMEOUT (~0x100)    // -257: the probe did not end in time
#define RC_MUTEX (~0x200)              // -513: the guard mutex was not created
#define RC_POWER_UNKNOWN (~0x400)      // -1025: power status unreadable, user quit
#define RC_POWER_OFFLINE (~0x800)      // -2049: on battery, user quit

#endif
