// A reader of Windows program files (PE) for kstcheck: is the file a
// Windows program, for which machine, and what do its dialog resources hold.
//
// The file may be anything a package holds, hostile ones included: every
// offset is checked against the file's end before it is read, the walk of
// the resource directories has a fixed depth and a bound on the entries it
// visits, and nothing is allocated by a size read from the file.
#ifndef KST_PEFILE_H
#define KST_PEFILE_H

#include <cstddef>
#include <cstdint>

// Reads nSize bytes at qwOffset into pBuffer; false unless all were read.
typedef bool (*PEREADFN)(void* pContext, uint64_t qwOffset, void* pBuffer, size_t nSize);

#define PE_MACHINE_I386 0x014C
#define PE_MACHINE_AMD64 0x8664
#define PE_MACHINE_ARM64 0xAA64
#define PE_FILE_DLL 0x2000

// Limits of what is kept. Dialogs past PE_MAX_DIALOGS are counted only.
#define PE_MAX_SECTIONS 96
#define PE_MAX_DIALOGS 32
#define PE_MAX_CAPTION 128         // UTF-16 units of a caption kept
#define PE_MAX_NAME 32             // UTF-16 units of a resource name kept
#define PE_MAX_DIALOG_BYTES 65536  // bytes of one dialog template parsed
#define PE_MAX_RESOURCE_ENTRIES 4096
#define PE_MAX_DIRECTORIES 256

// What the file is.
enum {
    PE_PROGRAM,    // "MZ", then "PE\0\0" and a whole file header
    PE_NO_MZ,      // no "MZ" header (or shorter than one)
    PE_NO_PE,      // an "MZ" header without a "PE" signature where it points
    PE_CUT_HEADER, // the "PE" signature, but the headers or the section table are cut off
    PE_BAD_HEADER  // an optional header of neither PE32 nor PE32+
};

// What became of the resource directory.
enum {
    PE_RES_NONE,       // no resource directory, or none of type dialog
    PE_RES_READ,       // read; the dialogs found are below
    PE_RES_OUTSIDE,    // it (or an entry) lies outside every section or past the file's end
    PE_RES_LOOP,       // a directory leads back to one already visited
    PE_RES_TOO_MANY,   // more entries than PE_MAX_RESOURCE_ENTRIES
    PE_RES_NO_SECTIONS // more sections than PE_MAX_SECTIONS: not looked at
};

struct PEDIALOG {
    bool bNamed;                          // named by a string, else by wId
    uint16_t wId;
    char16_t szName[PE_MAX_NAME + 1];
    bool bNameCut;                        // the name is longer than PE_MAX_NAME units, or cut off by the file
    bool bExtended;                       // DLGTEMPLATEEX
    bool bOwnClass;                       // a window class other than the dialog class
    bool bDisabled;                       // the dialog itself starts disabled (WS_DISABLED)
    bool bUnreadable;                     // its data lies outside the sections or past the file's end
    bool bCut;                            // the template ends before its last control
    char16_t szCaption[PE_MAX_CAPTION + 1];
    bool bCaptionCut;                     // longer than PE_MAX_CAPTION units
    uint32_t nControls;                   // controls read
    bool bHasFlashButton;                 // a control with id 101
    bool bFlashButtonDisabled;            // the first such control starts disabled (WS_DISABLED)
};

struct PEINFO {
    int nKind;                 // PE_PROGRAM ...
    uint16_t wMachine;
    uint16_t wCharacteristics;
    bool bDataCut;             // a section's data reaches past the file's end
    int nResources;            // PE_RES_NONE ...
    uint32_t nDialogs;         // dialog resources found (all of them)
    uint32_t nDialogsKept;     // of which the first ones are in aDialogs
    PEDIALOG aDialogs[PE_MAX_DIALOGS];
};

// Reads what the file of qwSize bytes holds into *pInfo.
void ReadPeInfo(PEREADFN pfnRead, void* pContext, uint64_t qwSize, PEINFO* pInfo);

// The machine's usual name ("x86", "x64", "ARM64"), or NULL.
const char* PeMachineName(uint16_t wMachine);

#endif
