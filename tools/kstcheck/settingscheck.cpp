// The settings file KESTROM.INI: its three values as the launcher reads
// them (LoadSettings, ReadIniValue), and a pass over its lines, made with
// the reader's own line reading and cuts, for what the launcher reads
// otherwise than the file's writer may have meant.
#include <cstring>
#include <vector>

#include "kstcheck.h"
#include "launch/settings.h"
#include "launch/messages.h"
#include "launch/results.h"
#include "settings/codepage.h"
#include "settings/inireader.h"
#include "settings/pathrule.h"

#define KEY_COUNT SETTING_KEY_COUNT
// Findings of one kind past this many are only counted.
#define MAX_PER_KIND 5
// Bytes of a line shown in a finding.
#define SHOWN_BYTES 40

// The launcher's keys (g_aSettingKeys), and the sections they stand in, in
// the order the keys name them.
static const SETTINGKEY* const g_aKeys = g_aSettingKeys;
#define SECTION_COUNT KEY_COUNT  // at most one for each key
static LPCSTR g_aSectionNames[SECTION_COUNT];
static int g_nSections;
static int g_anKeySection[KEY_COUNT];

static void IndexSections()
{
    g_nSections = 0;
    for (int k = 0; k < KEY_COUNT; k++) {
        int s = 0;
        while (s < g_nSections && strcmp(g_aSectionNames[s], g_aKeys[k].lpSection) != 0)
            s++;
        if (s == g_nSections)
            g_aSectionNames[g_nSections++] = g_aKeys[k].lpSection;
        g_anKeySection[k] = s;
    }
}

// The key that fills the backup file's field.
static int BackupFileKey()
{
    for (int k = 0; k < KEY_COUNT; k++)
        if (g_aKeys[k].nFieldOffset == offsetof(LOADERSETTINGS, BackupFile))
            return k;
    return 0;
}

// Where the launcher finds each key: the line and the byte of the line
// where the piece holding it starts (0: not found).
struct KEYSOURCE {
    UINT nLine;
    UINT nColumn;
    BOOL bEmpty;
};
static KEYSOURCE g_aSources[KEY_COUNT];

enum {
    KIND_BEFORE_HEADER,
    KIND_SECTION_CASE,
    KIND_SECTION_AGAIN,
    KIND_KEY_CASE,
    KIND_KEY_AGAIN,
    KIND_LONG_LINE,
    KIND_ZERO_BYTE,
    KIND_CR_LINE_END,
    KIND_COUNT
};
// The finding each kind is reported as.
static const int g_anKindFindings[KIND_COUNT] = {FK_BEFORE_HEADER, FK_SECTION_CASE, FK_SECTION_AGAIN, FK_KEY_CASE,
                                                 FK_KEY_AGAIN,     FK_LONG_LINE,    FK_ZERO_BYTE,     FK_CR_LINE_END};
static LPCSTR const g_aKindSummaries[KIND_COUNT] = {
    "key lines before any section header",
    "sections named with other letter case",
    "sections that appear again",
    "keys named with other letter case",
    "keys that appear again",
    "lines longer than 255 bytes",
    "lines with a zero byte",
    "carriage returns without a line feed",
};

enum { SECTION_UNSEEN, SECTION_READING, SECTION_PASSED };

struct LINTFINDING {
    int nKind;  // FK_...
    UINT nLine;
    std::string strText;
};

struct LINT {
    std::vector<LINTFINDING> findings;  // in line order
    UINT nLines;
    BOOL bUtf16;
    UINT anCounts[KIND_COUNT];
    BOOL bByteOrderMark;
    BOOL bHighBytesNoted;
    // Sections, as every lookup of the launcher passes them.
    int anSectionState[SECTION_COUNT];
    UINT anSectionLine[SECTION_COUNT];
    int nReading;  // the section being read, or -1
    BOOL bSeenHeader;
    // The physical line being read.
    UINT nLine;
    UINT nLineBytes;
    UINT nPieces;
    BOOL bLineRead;            // a piece of it lies in a section the launcher reads
    BOOL bContinuationHeader;  // a piece after the first is taken for a header
    UINT nSecondAt;
    std::string strSecond;
    UINT nZeroAt;
    BOOL bBeforeHeaderDone;
    // The bytes as UTF-8: still valid, the continuation bytes due, the
    // first line with a character beyond ASCII (0: none).
    BOOL bUtf8Invalid;
    int nUtf8Due;
    UINT nUtf8Line;
};

// The first bytes of a line for a finding, without its line feed.
static std::string Shown(const char* lpText, size_t nLength)
{
    if (nLength > 0 && lpText[nLength - 1] == '\n')
        nLength--;
    if (nLength <= SHOWN_BYTES)
        return std::string(lpText, nLength);
    return std::string(lpText, SHOWN_BYTES) + "...";
}

static void Warn(LINT* pLint, int nKind, const std::string& strText)
{
    if (++pLint->anCounts[nKind] <= MAX_PER_KIND)
        pLint->findings.push_back(LINTFINDING{g_anKindFindings[nKind], pLint->nLine, strText});
}

static void Add(LINT* pLint, int nFinding, const std::string& strText)
{
    pLint->findings.push_back(LINTFINDING{nFinding, pLint->nLine, strText});
}

// Follows the bytes as UTF-8 would read them.
static void FollowUtf8(LINT* pLint, const char* lpBytes, UINT nBytes)
{
    for (UINT i = 0; i < nBytes && !pLint->bUtf8Invalid; i++) {
        BYTE b = (BYTE)lpBytes[i];
        if (pLint->nUtf8Due > 0) {
            if ((b & 0xC0) != 0x80)
                pLint->bUtf8Invalid = TRUE;
            pLint->nUtf8Due--;
            continue;
        }
        if (b < 0x80)
            continue;
        if (b >= 0xC2 && b <= 0xDF)
            pLint->nUtf8Due = 1;
        else if (b >= 0xE0 && b <= 0xEF)
            pLint->nUtf8Due = 2;
        else if (b >= 0xF0 && b <= 0xF4)
            pLint->nUtf8Due = 3;
        else
            pLint->bUtf8Invalid = TRUE;
        if (!pLint->nUtf8Line)
            pLint->nUtf8Line = pLint->nLine;
    }
}

// A carriage return not followed by a line feed is no line end for the
// launcher's text mode: what comes after it on the line is read as part of
// it (blanks and control bytes after it alone are trimmed away).
static void LintCarriageReturns(LINT* pLint, const char* lpPiece, UINT nBytes, UINT nColumn)
{
    const char* lpZero = (const char*)memchr(lpPiece, 0, nBytes);
    UINT nEnd = lpZero ? (UINT)(lpZero - lpPiece) : nBytes;
    for (UINT i = 0; i < nEnd; i++) {
        if (lpPiece[i] != '\r')
            continue;
        UINT k = i + 1;
        while (k < nEnd && (lpPiece[k] == ' ' || (lpPiece[k] >= 0x09 && lpPiece[k] <= 0x0D)))
            k++;
        if (k == nEnd)
            return;
        Warn(pLint, KIND_CR_LINE_END,
             Format("line %u: a carriage return without a line feed at byte %u ends no line for the launcher: it "
                    "reads %s after it as part of this line",
                    pLint->nLine, nColumn + i, Quoted(Shown(lpPiece + k, nEnd - k)).c_str()));
        return;
    }
}

static BOOL IsDoubleBytePage()
{
    for (int b = 0x80; b < 0x100; b++)
        if (IsLeadByteAcp((BYTE)b))
            return TRUE;
    return FALSE;
}

static void LintHeader(LINT* pLint, LPSTR lpWork)
{
    char szSection[INI_LINE_SIZE + 1];
    memset(szSection, 0, sizeof szSection);
    CutSectionName(lpWork, szSection);
    if (pLint->nReading >= 0) {
        pLint->anSectionState[pLint->nReading] = SECTION_PASSED;
        pLint->nReading = -1;
    }
    pLint->bSeenHeader = TRUE;
    for (int s = 0; s < g_nSections; s++) {
        if (strcmp(szSection, g_aSectionNames[s]) == 0) {
            if (pLint->anSectionState[s] == SECTION_UNSEEN) {
                pLint->anSectionState[s] = SECTION_READING;
                pLint->anSectionLine[s] = pLint->nLine;
                pLint->nReading = s;
            } else {
                Warn(pLint, KIND_SECTION_AGAIN,
                     Format("line %u: section [%s] appears again (first on line %u): the launcher reads only the first",
                            pLint->nLine, szSection, pLint->anSectionLine[s]));
            }
        } else if (EqualIgnoringAsciiCase(szSection, g_aSectionNames[s])) {
            Warn(pLint, KIND_SECTION_CASE,
                 Format("line %u: section [%s] matches [%s] only with letter case ignored: the launcher ignores it",
                        pLint->nLine, szSection, g_aSectionNames[s]));
        }
    }
}

static void LintKeyLine(LINT* pLint, LPSTR lpWork, UINT nColumn)
{
    std::string strLine = Shown(lpWork, strlen(lpWork));
    char szKey[INI_LINE_SIZE + 1];
    char szValue[INI_LINE_SIZE + 1];
    memset(szKey, 0, sizeof szKey);
    memset(szValue, 0, sizeof szValue);
    CutKeyValue(lpWork, szKey, szValue);
    if (!szKey[0] && !szValue[0])
        return;
    if (!pLint->bSeenHeader) {
        if (!pLint->bBeforeHeaderDone)
            Warn(pLint, KIND_BEFORE_HEADER,
                 Format("line %u: %s comes before any section header: the launcher never reads it", pLint->nLine,
                        Quoted(strLine).c_str()));
        pLint->bBeforeHeaderDone = TRUE;
        return;
    }
    if (pLint->nReading < 0)
        return;
    LPCSTR lpSection = g_aSectionNames[pLint->nReading];
    for (int k = 0; k < KEY_COUNT; k++) {
        if (g_anKeySection[k] != pLint->nReading)
            continue;
        KEYSOURCE* pSource = &g_aSources[k];
        if (strcmp(szKey, g_aKeys[k].lpKey) == 0) {
            if (!pSource->nLine) {
                pSource->nLine = pLint->nLine;
                pSource->nColumn = nColumn;
                pSource->bEmpty = !szValue[0];
            } else {
                Warn(pLint, KIND_KEY_AGAIN,
                     Format("line %u: %s appears again in [%s] (first on line %u): the launcher uses the first",
                            pLint->nLine, szKey, lpSection, pSource->nLine));
            }
        } else if (EqualIgnoringAsciiCase(szKey, g_aKeys[k].lpKey)) {
            Warn(pLint, KIND_KEY_CASE,
                 Format("line %u: key \"%s\" in [%s] matches %s only with letter case ignored: the launcher ignores it",
                        pLint->nLine, szKey, lpSection, g_aKeys[k].lpKey));
        }
    }
}

// One piece of a line, as the reader takes it: a line of its own.
static void LintPiece(LINT* pLint, const char* lpPiece, UINT nBytes)
{
    UINT nColumn = pLint->nLineBytes + 1;
    pLint->nPieces++;
    if (!pLint->bUtf16) {
        BOOL bMark = pLint->bByteOrderMark && pLint->nLine == 1 && nColumn == 1;
        FollowUtf8(pLint, lpPiece + (bMark ? 3 : 0), nBytes - (bMark ? 3 : 0));
        LintCarriageReturns(pLint, lpPiece, nBytes, nColumn);
    }
    if (!pLint->nZeroAt && !pLint->bUtf16) {
        const char* lpZero = (const char*)memchr(lpPiece, 0, nBytes);
        if (lpZero)
            pLint->nZeroAt = nColumn + (UINT)(lpZero - lpPiece);
    }
    if (pLint->nPieces == 2) {
        pLint->nSecondAt = nColumn;
        pLint->strSecond = Shown(lpPiece, nBytes);
    }
    BOOL bMarkLine = (pLint->bByteOrderMark || pLint->bUtf16) && pLint->nLine == 1 && nColumn == 1;
    if (!pLint->bHighBytesNoted && !pLint->bUtf16 && !IsDoubleBytePage()) {
        for (UINT i = bMarkLine ? 3 : 0; i < nBytes; i++) {
            if ((BYTE)lpPiece[i] >= 0x80) {
                Add(pLint, FK_HIGH_BYTES, Format("line %u holds bytes of 0x80 and above, read as code page %u: "
                                              "use --code-page for a package meant for another",
                                              pLint->nLine, g_uCodePage));
                pLint->bHighBytesNoted = TRUE;
                break;
            }
        }
    }

    char szWork[INI_LINE_SIZE + 1];
    memset(szWork, 0, sizeof szWork);
    BoundedCopy(szWork, lpPiece, INI_LINE_SIZE);
    if (bMarkLine) {
        // The start of UTF-16 text or the byte-order mark is read as part
        // of the line, which thus stands before any header: whatever it
        // holds, the launcher does not read it.
        if (pLint->bUtf16) {
            Add(pLint, FK_UTF16,
                                         "line 1: the file is UTF-16 text: the launcher reads 8-bit text only, "
                                         "in which every other byte of this one is zero");
            return;
        }
        Add(pLint, FK_UTF8_MARK,
            szWork[3] == '['
                ? Format("line 1: the file begins with a UTF-8 byte-order mark, which the launcher reads as part "
                         "of the line: %s is then no section header",
                         Quoted(Shown(szWork + 3, strlen(szWork + 3))).c_str())
                : std::string("line 1: the file begins with a UTF-8 byte-order mark, which the launcher reads as "
                              "part of the line"));
        return;
    }
    if (pLint->nReading >= 0)
        pLint->bLineRead = TRUE;
    if (szWork[0] == ';')
        return;
    if (szWork[0] == '[') {
        LintHeader(pLint, szWork);
        if (nColumn > 1)
            pLint->bContinuationHeader = TRUE;
        if (pLint->nReading >= 0)
            pLint->bLineRead = TRUE;
        return;
    }
    LintKeyLine(pLint, szWork, nColumn);
}

static void FinishLine(LINT* pLint, BOOL bLineFeed)
{
    UINT nLength = pLint->nLineBytes - (bLineFeed ? 1 : 0);
    if (nLength >= INI_LINE_SIZE && (pLint->bLineRead || pLint->bContinuationHeader))
        Warn(pLint, KIND_LONG_LINE,
             Format("line %u is %u bytes long: the launcher reads it as %u lines of at most %u bytes; "
                    "the second starts at byte %u: %s",
                    pLint->nLine, nLength, pLint->nPieces, INI_LINE_SIZE - 1, pLint->nSecondAt,
                    Quoted(pLint->strSecond).c_str()));
    if (pLint->nZeroAt)
        Warn(pLint, KIND_ZERO_BYTE,
             Format("line %u holds a zero byte at byte %u: the launcher ignores the rest of %s", pLint->nLine,
                    pLint->nZeroAt, pLint->nPieces > 1 ? "that 255-byte piece of it" : "the line"));
    pLint->nLine++;
    pLint->nLineBytes = 0;
    pLint->nPieces = 0;
    pLint->bLineRead = FALSE;
    pLint->bContinuationHeader = FALSE;
    pLint->nSecondAt = 0;
    pLint->strSecond.clear();
    pLint->nZeroAt = 0;
    pLint->bBeforeHeaderDone = FALSE;
}

// TRUE for UTF-16 text: a byte-order mark, or ASCII with a zero byte after
// (or before) each.
static BOOL IsUtf16(const BYTE* abStart, size_t nStart)
{
    if (nStart >= 2 && ((abStart[0] == 0xFF && abStart[1] == 0xFE) || (abStart[0] == 0xFE && abStart[1] == 0xFF)))
        return TRUE;
    if (nStart < 4)
        return FALSE;
    BOOL bLittle = abStart[0] && !abStart[1] && abStart[2] && !abStart[3];
    BOOL bBig = !abStart[0] && abStart[1] && !abStart[2] && abStart[3];
    return (bLittle && abStart[0] < 0x80 && abStart[2] < 0x80) || (bBig && abStart[1] < 0x80 && abStart[3] < 0x80);
}

// The pass over the lines into *pLint; FALSE when the file cannot be read.
static BOOL LintSettings(LPCSTR lpPath, LINT* pLint)
{
    FILE* pFile = OpenSharedRead(lpPath);
    if (!pFile)
        return FALSE;
    pLint->nReading = -1;
    pLint->nLine = 1;

    // UTF-16 text: its zero bytes are no finding of their own.
    BYTE abStart[4];
    size_t nStart = fread(abStart, 1, sizeof abStart, pFile);
    pLint->bUtf16 = IsUtf16(abStart, nStart);
    pLint->bByteOrderMark = nStart >= 3 && abStart[0] == 0xEF && abStart[1] == 0xBB && abStart[2] == 0xBF;
    rewind(pFile);

    TEXTFILE text;
    text.pFile = pFile;
    text.bEnded = FALSE;
    char szPiece[INI_LINE_SIZE + 1];
    UINT nBytes;
    while ((nBytes = ReadTextLine(&text, szPiece, INI_LINE_SIZE)) > 0) {
        LintPiece(pLint, szPiece, nBytes);
        pLint->nLineBytes += nBytes;
        if (szPiece[nBytes - 1] == '\n')
            FinishLine(pLint, TRUE);
    }
    UINT nLastLine = pLint->nLine;
    if (pLint->nLineBytes > 0)
        FinishLine(pLint, FALSE);
    pLint->nLines = pLint->nLine - 1;

    // The reading stopped at a 0x1A byte rather than at the end of the file.
    if (!feof(pFile) && !ferror(pFile)) {
        long long llAt = FileTell(pFile) - 1;
        if (getc(pFile) != EOF && FileSeek(pFile, 0, SEEK_END)) {
            long long llAfter = FileTell(pFile) - llAt - 1;
            pLint->findings.push_back(LINTFINDING{FK_END_BYTE, nLastLine,
                                         Format("line %u: a 0x1A byte at byte %lld of the file ends it for the "
                                                "launcher: the %lld bytes after it are never read",
                                                nLastLine, llAt + 1, llAfter)});
        }
    }
    fclose(pFile);
    for (int nKind = 0; nKind < KIND_COUNT; nKind++)
        if (pLint->anCounts[nKind] > MAX_PER_KIND)
            pLint->findings.push_back(LINTFINDING{g_anKindFindings[nKind], 0,
                                                  Format("%u more %s", pLint->anCounts[nKind] - MAX_PER_KIND,
                                                         g_aKindSummaries[nKind])});
    if (!pLint->bUtf16 && !pLint->bByteOrderMark && !pLint->bUtf8Invalid && !pLint->nUtf8Due && pLint->nUtf8Line)
        pLint->findings.push_back(LINTFINDING{
            FK_UTF8_NO_MARK, pLint->nUtf8Line,
            Format("line %u: the file is UTF-8 text without a byte-order mark: the launcher reads its letters beyond "
                   "ASCII in code page %u, as other letters",
                   pLint->nUtf8Line, g_uCodePage)});
    return TRUE;
}

// Where a value came from, for its line: "line 4", "default", ...
static std::string SourceText(int k, BOOL bFromFile)
{
    const KEYSOURCE& source = g_aSources[k];
    if (bFromFile) {
        if (!source.nLine)
            return "from the file";
        if (source.nColumn > 1)
            return Format("line %u, the piece from byte %u", source.nLine, source.nColumn);
        return Format("line %u", source.nLine);
    }
    if (source.nLine && source.bEmpty)
        return Format("default: the %s on line %u is empty", g_aKeys[k].lpKey, source.nLine);
    return "default";
}

void CheckSettings()
{
    IndexSections();
    ResetSettings();
    memset(g_aSources, 0, sizeof g_aSources);
    PKGFILE file = FindPackageFile(SETTINGS_FILE);
    if (file.nKind != PKG_FILE) {
        // The launcher stops; the other checks go on with the defaults.
        Report(FK_SETTINGS_MISSING, AREA_SETTINGS,
               Format("%s %s: %s", SETTINGS_FILE, file.nKind == PKG_DIRECTORY ? "is a directory" : "is missing",
                      LauncherStop(STAGE_SETTINGS, RC_NOT_FOUND).c_str()));
        for (int k = 0; k < KEY_COUNT; k++)
            ReportOk(AREA_SETTINGS,
                   Format("%s %s (default)", g_aKeys[k].lpKey, Quoted(SettingField(&g_aKeys[k])).c_str()));
        return;
    }
    NoteCaseDiffers(AREA_SETTINGS, SETTINGS_FILE, file.strFound);

    LINT* pLint = new LINT();
    BOOL bRead = LintSettings(file.strPath.c_str(), pLint);
    if (bRead)
        ReportOk(AREA_SETTINGS,
               Format("%s: %u line%s, read as code page %u", SETTINGS_FILE, pLint->nLines,
                      pLint->nLines == 1 ? "" : "s", g_uCodePage));
    else
        Report(FK_SETTINGS_UNREADABLE, AREA_SETTINGS,
               Format("%s cannot be read: the launcher uses the defaults", SETTINGS_FILE));

    // The values come from the launcher's own reads.
    LoadSettingsFrom(file.strPath.c_str());
    for (int k = 0; k < KEY_COUNT; k++) {
        char szValue[SETTINGS_READ_SIZE + 1];
        memset(szValue, 0, sizeof szValue);
        BOOL bFromFile = ReadIniValue(file.strPath.c_str(), g_aKeys[k].lpSection, g_aKeys[k].lpKey,
                                      szValue, SETTINGS_READ_SIZE) != 0;
        ReportOk(AREA_SETTINGS,
               Format("%s %s (%s)", g_aKeys[k].lpKey, Quoted(SettingField(&g_aKeys[k])).c_str(),
                      SourceText(k, bFromFile).c_str()));
    }
    for (const LINTFINDING& finding : pLint->findings)
        Report(finding.nKind, AREA_SETTINGS, finding.strText, finding.nLine);
    delete pLint;
}

void CheckBackupFile(LPCSTR lpFlasher)
{
    LPCSTR lpBackup = LoaderSettings.BackupFile;
    std::string strWhere;
    const KEYSOURCE& source = g_aSources[BackupFileKey()];
    UINT nLine = source.nLine && !source.bEmpty ? source.nLine : 0;
    if (nLine)
        strWhere = Format("line %u: ", nLine);
    // The launcher's own rule: it deletes a backup file only inside its folder.
    // It counts more elements as "..", so Windows may open inside the folder
    // a name the launcher counts as climbing out of it.
    int nClass = ClassifyName(lpBackup);
    bool bFolderOnly;
    std::vector<std::string> parts = ResolvePackageName(lpBackup, &bFolderOnly);
    if (nClass != NAME_INSIDE) {
        LPCSTR lpProblem = PathProblem(nClass);
        if (nClass == NAME_CLIMBS && (parts.empty() || parts[0] != ".."))
            lpProblem = "climbs out of the package by the launcher's count, which takes an element of dots and "
                        "blanks for \"..\"";
        Report(FK_BACKUP_OUTSIDE, AREA_SETTINGS,
               Format("%sBackupFile %s %s: the launcher deletes no file outside its folder and leaves this one in "
                      "place",
                      strWhere.c_str(), Quoted(lpBackup).c_str(), lpProblem),
               nLine);
        return;
    }
    // The launcher deletes the file after every flash, by whatever spelling
    // leads to it.
    struct {
        LPCSTR lpName;
        LPCSTR lpWhat;
        int nKind;
    } aFiles[] = {
        {SETTINGS_FILE, "the package's settings file", FK_BACKUP_PACKAGE_FILE},
        {PROBE_PROGRAM, "the package's probe", FK_BACKUP_PACKAGE_FILE},
        {LoaderSettings.ImageFile, "the package's image", FK_BACKUP_PACKAGE_FILE},
        {lpFlasher, "the package's flasher", FK_BACKUP_PACKAGE_FILE},
        {LAUNCHER_PROGRAM, "the launcher itself", FK_BACKUP_LAUNCHER},
    };
    for (const auto& file : aFiles) {
        if (file.lpName && SamePackageName(lpBackup, file.lpName)) {
            Report(file.nKind, AREA_SETTINGS,
                   Format("%sBackupFile %s names %s: the launcher %s that file after every flash", strWhere.c_str(),
                          Quoted(lpBackup).c_str(), file.lpWhat,
                          file.nKind == FK_BACKUP_LAUNCHER ? "tries to delete" : "deletes"),
                   nLine);
            return;
        }
    }
    PKGFILE found = FindPackageFile(lpBackup);
    if (found.nKind == PKG_FILE)
        // Any other file the package ships (a DLL of the flasher, a
        // readme) is gone after the first flash.
        Report(FK_BACKUP_PACKAGE_FILE, AREA_SETTINGS,
               Format("%sBackupFile %s names a file the package ships: the launcher deletes that file after every "
                      "flash",
                      strWhere.c_str(), Quoted(lpBackup).c_str()),
               nLine);
    else if (bFolderOnly || found.nKind == PKG_DIRECTORY)
        Report(FK_BACKUP_DIRECTORY, AREA_SETTINGS,
               Format("%sBackupFile %s names a directory: the launcher deletes files only, so the backup is left "
                      "behind",
                      strWhere.c_str(), Quoted(lpBackup).c_str()),
               nLine);
    else if (!HostKnowsShortNames() && HasShortNameShape(lpBackup))
        Report(FK_BACKUP_SHORT_NAME, AREA_SETTINGS,
               Format("%sBackupFile %s has the shape of a short name: this host cannot tell whether that is a "
                      "package file's short name, which the launcher would delete after every flash",
                      strWhere.c_str(), Quoted(lpBackup).c_str()),
               nLine);
}
