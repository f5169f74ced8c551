// The PE reader: headers, section table, the resource directories of type
// dialog, and the dialog templates (DLGTEMPLATE and DLGTEMPLATEEX).
#include "pefile.h"

#include <cstring>

// Under AddressSanitizer the unused part of the template buffer is
// poisoned, so that a read past a template's end is caught at once.
#if defined(__SANITIZE_ADDRESS__)
#define KST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KST_ASAN 1
#endif
#endif
#ifdef KST_ASAN
#include <sanitizer/asan_interface.h>
#define POISON_BYTES(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define UNPOISON_BYTES(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define POISON_BYTES(p, n) ((void)0)
#define UNPOISON_BYTES(p, n) ((void)0)
#endif

#define RT_DIALOG_ID 5
#define DS_SETFONT_STYLE 0x40u
#define FLASH_BUTTON_ID 101
#define WS_DISABLED_STYLE 0x08000000u
#define RES_SUBDIRECTORY 0x80000000u
#define RES_NAMED 0x80000000u

// Offsets of the resource entry among the data directories of the optional
// header, for PE32 and PE32+.
#define OPT_MAGIC_PE32 0x10B
#define OPT_MAGIC_PE32PLUS 0x20B

struct PESECTION {
    uint32_t dwVirtualAddress;
    uint32_t dwMappedSize;      // bytes of the file mapped from dwRawOffset
    uint32_t dwRawOffset;
};

struct PEREADER {
    PEREADFN pfnRead;
    void* pContext;
    uint64_t qwSize;
    PESECTION aSections[PE_MAX_SECTIONS];
    int nSections;
};

static bool ReadAt(PEREADER* pReader, uint64_t qwOffset, void* pBuffer, size_t nSize)
{
    if (qwOffset > pReader->qwSize || nSize > pReader->qwSize - qwOffset)
        return false;
    return pReader->pfnRead(pReader->pContext, qwOffset, pBuffer, nSize);
}

static uint16_t Get16(const uint8_t* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

static uint32_t Get32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// The file offset of nSize bytes at the relative virtual address dwRva:
// all of them must lie in the file data of one section.
static bool RvaToOffset(const PEREADER* pReader, uint32_t dwRva, uint32_t nSize, uint64_t* pqwOffset)
{
    for (int i = 0; i < pReader->nSections; i++) {
        const PESECTION& section = pReader->aSections[i];
        if (dwRva < section.dwVirtualAddress)
            continue;
        uint64_t qwInto = (uint64_t)dwRva - section.dwVirtualAddress;
        if (qwInto + nSize > section.dwMappedSize)
            continue;
        *pqwOffset = (uint64_t)section.dwRawOffset + qwInto;
        return true;
    }
    return false;
}

static bool ReadRva(PEREADER* pReader, uint32_t dwRva, void* pBuffer, uint32_t nSize)
{
    uint64_t qwOffset;
    return RvaToOffset(pReader, dwRva, nSize, &qwOffset) && ReadAt(pReader, qwOffset, pBuffer, nSize);
}

// ---- dialog templates ------------------------------------------------------

struct CURSOR {
    const uint8_t* pData;
    size_t nSize;
    size_t nAt;
    bool bFailed;  // a read went past the end
};

static bool Need(CURSOR* pCursor, size_t nBytes)
{
    if (pCursor->bFailed || nBytes > pCursor->nSize - pCursor->nAt) {
        pCursor->bFailed = true;
        return false;
    }
    return true;
}

static uint16_t Take16(CURSOR* pCursor)
{
    if (!Need(pCursor, 2))
        return 0;
    uint16_t w = Get16(pCursor->pData + pCursor->nAt);
    pCursor->nAt += 2;
    return w;
}

static uint32_t Take32(CURSOR* pCursor)
{
    if (!Need(pCursor, 4))
        return 0;
    uint32_t dw = Get32(pCursor->pData + pCursor->nAt);
    pCursor->nAt += 4;
    return dw;
}

static void Skip(CURSOR* pCursor, size_t nBytes)
{
    if (Need(pCursor, nBytes))
        pCursor->nAt += nBytes;
}

// Controls start on a four-byte boundary of the template.
static void AlignTo4(CURSOR* pCursor)
{
    size_t nPad = (4 - (pCursor->nAt & 3)) & 3;
    if (pCursor->nAt + nPad <= pCursor->nSize)
        pCursor->nAt += nPad;
    else
        pCursor->nAt = pCursor->nSize;
}

// A zero-terminated UTF-16 string; the first nMax units go to lpText (which
// holds nMax + 1), terminated. *pbCut tells whether it was longer.
static void TakeString(CURSOR* pCursor, char16_t* lpText, size_t nMax, bool* pbCut)
{
    size_t nKept = 0;
    bool bCut = false;
    for (;;) {
        uint16_t w = Take16(pCursor);
        if (pCursor->bFailed || w == 0)
            break;
        if (nKept < nMax)
            lpText[nKept++] = (char16_t)w;
        else
            bCut = true;
    }
    if (lpText)
        lpText[nKept] = 0;
    if (pbCut)
        *pbCut = bCut;
}

// A name or an ordinal: 0 for none, 0xFFFF followed by an ordinal, else a
// string. The string (when lpText is given) is kept like TakeString; the
// ordinal goes to *pwOrdinal (0 for a string or none).
static void TakeNameOrOrdinal(CURSOR* pCursor, bool* pbPresent, uint16_t* pwOrdinal, char16_t* lpText, size_t nMax)
{
    if (lpText)
        lpText[0] = 0;
    *pbPresent = false;
    *pwOrdinal = 0;
    if (!Need(pCursor, 2))
        return;
    uint16_t w = Get16(pCursor->pData + pCursor->nAt);
    if (w == 0) {
        pCursor->nAt += 2;
        return;
    }
    *pbPresent = true;
    if (w == 0xFFFF) {
        pCursor->nAt += 2;
        *pwOrdinal = Take16(pCursor);
        return;
    }
    char16_t szIgnored[1];
    TakeString(pCursor, lpText ? lpText : szIgnored, lpText ? nMax : 0, NULL);
}

// The dialog class is "#32770", whose atom is 0x8002.
#define DIALOG_CLASS_ATOM 0x8002

static bool IsDialogClass(uint16_t wOrdinal, const char16_t* lpClass)
{
    static const char16_t szDialogClass[] = u"#32770";
    return wOrdinal == DIALOG_CLASS_ATOM || memcmp(lpClass, szDialogClass, sizeof szDialogClass) == 0;
}

static void ParseDialog(const uint8_t* pData, size_t nSize, bool bWhole, PEDIALOG* pDialog)
{
    CURSOR cursor = {pData, nSize, 0, false};
    bool bExtended = nSize >= 4 && Get16(pData) == 1 && Get16(pData + 2) == 0xFFFF;
    pDialog->bExtended = bExtended;

    uint32_t dwStyle;
    uint32_t nItems;
    if (bExtended) {
        Skip(&cursor, 4 + 4 + 4);  // version and signature, help id, extended style
        dwStyle = Take32(&cursor);
        nItems = Take16(&cursor);
    } else {
        dwStyle = Take32(&cursor);
        Skip(&cursor, 4);          // extended style
        nItems = Take16(&cursor);
    }
    Skip(&cursor, 8);              // position and size
    pDialog->bDisabled = !cursor.bFailed && (dwStyle & WS_DISABLED_STYLE) != 0;

    bool bPresent;
    uint16_t wOrdinal;
    TakeNameOrOrdinal(&cursor, &bPresent, &wOrdinal, NULL, 0);  // menu
    char16_t szClass[8];
    TakeNameOrOrdinal(&cursor, &bPresent, &wOrdinal, szClass, 7);
    pDialog->bOwnClass = bPresent && !IsDialogClass(wOrdinal, szClass);
    TakeString(&cursor, pDialog->szCaption, PE_MAX_CAPTION, &pDialog->bCaptionCut);
    if (dwStyle & DS_SETFONT_STYLE) {
        Skip(&cursor, bExtended ? 6 : 2);  // point size (and weight, italic, character set)
        TakeString(&cursor, NULL, 0, NULL);
    }

    for (uint32_t i = 0; i < nItems && !cursor.bFailed; i++) {
        AlignTo4(&cursor);
        uint32_t dwId;
        uint32_t dwItemStyle;
        if (bExtended) {
            Skip(&cursor, 4 + 4);          // help id, extended style
            dwItemStyle = Take32(&cursor);
            Skip(&cursor, 8);              // position and size
            dwId = Take32(&cursor);
        } else {
            dwItemStyle = Take32(&cursor);
            Skip(&cursor, 4 + 8);          // extended style, position and size
            dwId = Take16(&cursor);
        }
        TakeNameOrOrdinal(&cursor, &bPresent, &wOrdinal, NULL, 0);  // class
        TakeNameOrOrdinal(&cursor, &bPresent, &wOrdinal, NULL, 0);  // text
        uint16_t wExtra = Take16(&cursor);
        Skip(&cursor, wExtra);
        if (cursor.bFailed)
            break;
        pDialog->nControls++;
        if (dwId == FLASH_BUTTON_ID && !pDialog->bHasFlashButton) {
            pDialog->bHasFlashButton = true;
            pDialog->bFlashButtonDisabled = (dwItemStyle & WS_DISABLED_STYLE) != 0;
        }
    }
    pDialog->bCut = cursor.bFailed || !bWhole;
}

// ---- resource directories --------------------------------------------------

struct RESWALK {
    PEREADER* pReader;
    uint32_t dwBase;       // RVA of the root directory
    uint32_t nEntries;     // entries read so far
    uint32_t adwVisited[PE_MAX_DIRECTORIES];
    int nVisited;
    int nStatus;
    PEINFO* pInfo;
};

// Reads the header of the directory at dwOffset (from the root): its
// number of entries, or false with nStatus set.
static bool EnterDirectory(RESWALK* pWalk, uint32_t dwOffset, uint32_t* pnEntries)
{
    for (int i = 0; i < pWalk->nVisited; i++) {
        if (pWalk->adwVisited[i] == dwOffset) {
            pWalk->nStatus = PE_RES_LOOP;
            return false;
        }
    }
    if (pWalk->nVisited >= PE_MAX_DIRECTORIES) {
        pWalk->nStatus = PE_RES_TOO_MANY;
        return false;
    }
    pWalk->adwVisited[pWalk->nVisited++] = dwOffset;
    uint8_t abHeader[16];
    if ((uint64_t)pWalk->dwBase + dwOffset > 0xFFFFFFFFu ||
        !ReadRva(pWalk->pReader, pWalk->dwBase + dwOffset, abHeader, sizeof abHeader)) {
        pWalk->nStatus = PE_RES_OUTSIDE;
        return false;
    }
    *pnEntries = (uint32_t)Get16(abHeader + 12) + Get16(abHeader + 14);
    return true;
}

// Entry i of the directory at dwOffset: its name field and data field.
static bool ReadEntry(RESWALK* pWalk, uint32_t dwOffset, uint32_t i, uint32_t* pdwName, uint32_t* pdwData)
{
    if (++pWalk->nEntries > PE_MAX_RESOURCE_ENTRIES) {
        pWalk->nStatus = PE_RES_TOO_MANY;
        return false;
    }
    uint64_t qwRva = (uint64_t)pWalk->dwBase + dwOffset + 16 + 8 * (uint64_t)i;
    uint8_t abEntry[8];
    if (qwRva > 0xFFFFFFFFu || !ReadRva(pWalk->pReader, (uint32_t)qwRva, abEntry, sizeof abEntry)) {
        pWalk->nStatus = PE_RES_OUTSIDE;
        return false;
    }
    *pdwName = Get32(abEntry);
    *pdwData = Get32(abEntry + 4);
    return true;
}

// The name of a resource: a count of UTF-16 units and the units. The first
// PE_MAX_NAME are kept; *pbCut tells of a longer name, or one that reaches
// past the data of its section.
static void ReadResourceName(RESWALK* pWalk, uint32_t dwOffset, char16_t* lpName, bool* pbCut)
{
    lpName[0] = 0;
    *pbCut = true;
    uint64_t qwRva = (uint64_t)pWalk->dwBase + dwOffset;
    uint8_t abLength[2];
    if (qwRva + 2 > 0xFFFFFFFFu || !ReadRva(pWalk->pReader, (uint32_t)qwRva, abLength, 2))
        return;
    uint32_t nLength = Get16(abLength);
    uint64_t qwOffset;
    *pbCut = nLength > PE_MAX_NAME || !RvaToOffset(pWalk->pReader, (uint32_t)qwRva + 2, 2 * nLength, &qwOffset) ||
             qwOffset + 2 * nLength > pWalk->pReader->qwSize;
    if (nLength > PE_MAX_NAME)
        nLength = PE_MAX_NAME;
    uint8_t abText[2 * PE_MAX_NAME];
    if (!ReadRva(pWalk->pReader, (uint32_t)qwRva + 2, abText, 2 * nLength)) {
        *pbCut = true;
        return;
    }
    for (uint32_t i = 0; i < nLength; i++)
        lpName[i] = (char16_t)Get16(abText + 2 * i);
    lpName[nLength] = 0;
}

// The template of one dialog, from its data entry at dwOffset.
static void ReadDialog(RESWALK* pWalk, uint32_t dwOffset, PEDIALOG* pDialog)
{
    static uint8_t s_abTemplate[PE_MAX_DIALOG_BYTES];
    uint8_t abData[16];
    uint64_t qwRva = (uint64_t)pWalk->dwBase + dwOffset;
    if (qwRva > 0xFFFFFFFFu || !ReadRva(pWalk->pReader, (uint32_t)qwRva, abData, sizeof abData)) {
        pDialog->bUnreadable = true;
        return;
    }
    uint32_t dwDataRva = Get32(abData);
    uint32_t dwSize = Get32(abData + 4);
    uint32_t nRead = dwSize < PE_MAX_DIALOG_BYTES ? dwSize : PE_MAX_DIALOG_BYTES;
    if (!ReadRva(pWalk->pReader, dwDataRva, s_abTemplate, nRead)) {
        pDialog->bUnreadable = true;
        return;
    }
    POISON_BYTES(s_abTemplate + nRead, sizeof s_abTemplate - nRead);
    ParseDialog(s_abTemplate, nRead, nRead == dwSize, pDialog);
    UNPOISON_BYTES(s_abTemplate + nRead, sizeof s_abTemplate - nRead);
}

// Names, then languages, of the dialog type's directory at dwOffset.
static void WalkDialogs(RESWALK* pWalk, uint32_t dwOffset)
{
    uint32_t nNames;
    if (!EnterDirectory(pWalk, dwOffset, &nNames))
        return;
    for (uint32_t i = 0; i < nNames; i++) {
        uint32_t dwName, dwData;
        if (!ReadEntry(pWalk, dwOffset, i, &dwName, &dwData))
            return;
        if (!(dwData & RES_SUBDIRECTORY))
            continue;  // a name without languages below it is not a resource
        uint32_t dwLanguages = dwData & ~RES_SUBDIRECTORY;
        uint32_t nLanguages;
        if (!EnterDirectory(pWalk, dwLanguages, &nLanguages))
            return;
        for (uint32_t j = 0; j < nLanguages; j++) {
            uint32_t dwLanguage, dwEntry;
            if (!ReadEntry(pWalk, dwLanguages, j, &dwLanguage, &dwEntry))
                return;
            if (dwEntry & RES_SUBDIRECTORY)
                continue;  // a fourth level is not a resource either
            PEINFO* pInfo = pWalk->pInfo;
            pInfo->nDialogs++;
            if (pInfo->nDialogsKept >= PE_MAX_DIALOGS)
                continue;
            PEDIALOG* pDialog = &pInfo->aDialogs[pInfo->nDialogsKept++];
            pDialog->bNamed = (dwName & RES_NAMED) != 0;
            if (pDialog->bNamed)
                ReadResourceName(pWalk, dwName & ~RES_NAMED, pDialog->szName, &pDialog->bNameCut);
            else
                pDialog->wId = (uint16_t)dwName;
            ReadDialog(pWalk, dwEntry, pDialog);
        }
    }
}

static void WalkResources(RESWALK* pWalk)
{
    uint32_t nTypes;
    if (!EnterDirectory(pWalk, 0, &nTypes))
        return;
    for (uint32_t i = 0; i < nTypes; i++) {
        uint32_t dwName, dwData;
        if (!ReadEntry(pWalk, 0, i, &dwName, &dwData))
            return;
        if (dwName != RT_DIALOG_ID || !(dwData & RES_SUBDIRECTORY))
            continue;
        WalkDialogs(pWalk, dwData & ~RES_SUBDIRECTORY);
        if (pWalk->nStatus != PE_RES_READ)
            return;
    }
}

// ---- headers ---------------------------------------------------------------

void ReadPeInfo(PEREADFN pfnRead, void* pContext, uint64_t qwSize, PEINFO* pInfo)
{
    memset(pInfo, 0, sizeof *pInfo);
    static PEREADER s_reader;
    PEREADER* pReader = &s_reader;
    memset(pReader, 0, sizeof *pReader);
    pReader->pfnRead = pfnRead;
    pReader->pContext = pContext;
    pReader->qwSize = qwSize;

    uint8_t abDos[64];
    if (!ReadAt(pReader, 0, abDos, sizeof abDos) || abDos[0] != 'M' || abDos[1] != 'Z') {
        pInfo->nKind = PE_NO_MZ;
        return;
    }
    uint64_t qwPe = Get32(abDos + 0x3C);
    uint8_t abSignature[4];
    if (!ReadAt(pReader, qwPe, abSignature, 4) || memcmp(abSignature, "PE\0\0", 4) != 0) {
        pInfo->nKind = PE_NO_PE;
        return;
    }
    uint8_t abFile[20];
    if (!ReadAt(pReader, qwPe + 4, abFile, sizeof abFile)) {
        pInfo->nKind = PE_CUT_HEADER;
        return;
    }
    uint32_t nSections = Get16(abFile + 2);
    uint32_t nOptionalSize = Get16(abFile + 16);
    uint64_t qwOptional = qwPe + 24;
    uint64_t qwSections = qwOptional + nOptionalSize;
    // The system loads nothing whose headers or section table are cut off.
    if (qwSections + 40 * (uint64_t)nSections > qwSize) {
        pInfo->nKind = PE_CUT_HEADER;
        return;
    }
    uint8_t abMagic[2];
    uint32_t nCountAt, nResourceAt;
    if (nOptionalSize < 2 || !ReadAt(pReader, qwOptional, abMagic, 2)) {
        pInfo->nKind = PE_BAD_HEADER;
        return;
    }
    if (Get16(abMagic) == OPT_MAGIC_PE32) {
        nCountAt = 92;
        nResourceAt = 96 + 2 * 8;
    } else if (Get16(abMagic) == OPT_MAGIC_PE32PLUS) {
        nCountAt = 108;
        nResourceAt = 112 + 2 * 8;
    } else {
        pInfo->nKind = PE_BAD_HEADER;
        return;
    }
    pInfo->nKind = PE_PROGRAM;
    pInfo->wMachine = Get16(abFile);
    pInfo->wCharacteristics = Get16(abFile + 18);
    pInfo->nResources = PE_RES_NONE;

    for (uint32_t i = 0; i < nSections; i++) {
        uint8_t abSection[40];
        if (!ReadAt(pReader, qwSections + 40 * (uint64_t)i, abSection, sizeof abSection)) {
            pInfo->nKind = PE_CUT_HEADER;
            return;
        }
        uint32_t dwVirtualSize = Get32(abSection + 8);
        uint32_t dwRawSize = Get32(abSection + 16);
        uint32_t dwRawOffset = Get32(abSection + 20);
        if (dwRawSize && (uint64_t)dwRawOffset + dwRawSize > qwSize)
            pInfo->bDataCut = true;
        if (pReader->nSections < PE_MAX_SECTIONS) {
            PESECTION& section = pReader->aSections[pReader->nSections++];
            section.dwVirtualAddress = Get32(abSection + 12);
            section.dwRawOffset = dwRawOffset;
            // Only the part both in the file and in the image holds data.
            section.dwMappedSize = dwVirtualSize && dwVirtualSize < dwRawSize ? dwVirtualSize : dwRawSize;
        }
    }

    // The resource entry of the data directories.
    uint8_t abCount[4], abResource[8];
    if (nResourceAt + 8 > nOptionalSize || !ReadAt(pReader, qwOptional + nCountAt, abCount, 4) ||
        Get32(abCount) <= 2 || !ReadAt(pReader, qwOptional + nResourceAt, abResource, 8))
        return;
    uint32_t dwResourceRva = Get32(abResource);
    if (dwResourceRva == 0 || Get32(abResource + 4) == 0)
        return;
    if (nSections > PE_MAX_SECTIONS) {
        pInfo->nResources = PE_RES_NO_SECTIONS;
        return;
    }

    RESWALK walk;
    memset(&walk, 0, sizeof walk);
    walk.pReader = pReader;
    walk.dwBase = dwResourceRva;
    walk.nStatus = PE_RES_READ;
    walk.pInfo = pInfo;
    WalkResources(&walk);
    pInfo->nResources = walk.nStatus;
    if (walk.nStatus == PE_RES_READ && pInfo->nDialogs == 0)
        pInfo->nResources = PE_RES_NONE;
}

const char* PeMachineName(uint16_t wMachine)
{
    switch (wMachine) {
    case PE_MACHINE_I386:
        return "x86";
    case PE_MACHINE_AMD64:
        return "x64";
    case PE_MACHINE_ARM64:
        return "ARM64";
    default:
        return NULL;
    }
}
