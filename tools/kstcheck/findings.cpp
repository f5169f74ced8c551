// kstcheck's findings: kept as they are reported, written at the end area
// by area, as text or JSON, and the pieces of text they are made of.
#include "findings.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kstcheck.h"
#include "launch/messages.h"
#include "launch/settings.h"
#include "toolout.h"

const FINDINGKIND g_aFindingKinds[FK_COUNT] = {
    {"settings-missing", LEVEL_ERROR, "KESTROM.INI is missing or a directory: the launcher stops with -33"},
    {"settings-unreadable", LEVEL_WARNING, "KESTROM.INI cannot be read: the launcher uses the defaults"},
    {"utf8-mark", LEVEL_WARNING, "a UTF-8 byte-order mark, read as part of the first line"},
    {"utf16", LEVEL_WARNING, "UTF-16 text: the launcher reads 8-bit text only and finds no key"},
    {"utf8-no-mark", LEVEL_WARNING, "UTF-8 text with letters beyond ASCII: the launcher reads them in the ANSI code page"},
    {"high-bytes", LEVEL_NOTE, "bytes of 0x80 and above, read in the code page checked"},
    {"cr-line-end", LEVEL_ERROR, "a carriage return alone ends no line: the launcher reads the text after it as part of the line"},
    {"before-header", LEVEL_WARNING, "a key line before any section header, never read"},
    {"section-case", LEVEL_WARNING, "a section whose name matches only with letter case ignored, never read"},
    {"section-again", LEVEL_WARNING, "a section that appears again: only the first is read"},
    {"key-case", LEVEL_WARNING, "a key that matches only with letter case ignored, never read"},
    {"key-again", LEVEL_WARNING, "a key that appears again in its section: the first wins"},
    {"long-line", LEVEL_WARNING, "a line over 255 bytes, read as pieces that are lines of their own"},
    {"zero-byte", LEVEL_WARNING, "a zero byte in a line: the rest of it is not read"},
    {"end-byte", LEVEL_WARNING, "a 0x1A byte ends the file for the launcher before its end"},
    {"backup-outside", LEVEL_WARNING, "BackupFile lies outside the package: the launcher leaves it in place"},
    {"backup-package-file", LEVEL_ERROR, "BackupFile names a file the package ships: the launcher deletes it after every flash"},
    {"backup-launcher", LEVEL_ERROR, "BackupFile names the launcher KSTGATE.exe"},
    {"backup-directory", LEVEL_WARNING, "BackupFile names a directory: the backup is left behind"},
    {"backup-short-name", LEVEL_WARNING, "BackupFile may be the short name of a package file (host build only)"},
    {"case-differs", LEVEL_NOTE, "a file found under a name that differs in letter case only (host build only)"},
    {"probe-missing", LEVEL_ERROR, "BIOSVER.EXE is missing or a directory: the launcher stops with -33"},
    {"probe-not-program", LEVEL_ERROR, "BIOSVER.EXE cannot be read or is no Windows program: -33"},
    {"bv-leftover", LEVEL_WARNING, "the probe's answer file BV lies in the package, left from a run"},
    {"bv-undeletable", LEVEL_ERROR, "a BV the launcher cannot delete (read-only, a directory): every run ends with -9"},
    {"machine-unknown", LEVEL_WARNING, "a program for a machine other than x86, x64 and ARM64"},
    {"program-cut", LEVEL_WARNING, "a program whose sections reach past the end of its file"},
    {"image-outside", LEVEL_ERROR, "ImageFile leads out of the package: on the target it is missing, -129"},
    {"dots-element", LEVEL_ERROR, "a name holds an element of dots alone (\"...\"), which Windows cannot open"},
    {"image-missing", LEVEL_ERROR, "the image is missing, a directory or unreadable: the launcher stops with -129"},
    {"image-no-version", LEVEL_ERROR, "the image holds no version the launcher can read: -65"},
    {"image-later-marker", LEVEL_WARNING, "a later version marker with another version: the launcher shows the first"},
    {"command-empty", LEVEL_ERROR, "the flasher command line is empty: the launcher shows its help, -1"},
    {"flasher-outside", LEVEL_ERROR, "the flasher leads out of the package: -2"},
    {"flasher-missing", LEVEL_ERROR, "the flasher is missing from the package or a directory: -2"},
    {"flasher-not-program", LEVEL_ERROR, "the flasher cannot be read or is no Windows program: -2"},
    {"flasher-blanks", LEVEL_NOTE, "the flasher's name holds blanks and no quotes"},
    {"flasher-batch", LEVEL_NOTE, "the flasher is a batch file: its dialog cannot be checked"},
    {"no-dialogs", LEVEL_NOTE, "the flasher has no dialog resources: control 101 and the caption are not checked"},
    {"resources-unreadable", LEVEL_WARNING, "the flasher's resources cannot be read"},
    {"dialog-unreadable", LEVEL_WARNING, "a dialog of the flasher cannot be read whole"},
    {"many-dialogs", LEVEL_NOTE, "the flasher has more dialogs than are checked"},
    {"no-button", LEVEL_WARNING, "no dialog holds control 101, the Flash BIOS button: -5 unless added at run time"},
    {"button-disabled", LEVEL_WARNING, "the Flash BIOS button or its dialog starts disabled"},
    {"title-not-text", LEVEL_NOTE, "the Title is no valid text in the code page: captions not compared"},
    {"no-caption", LEVEL_WARNING, "no dialog caption equals the Title: -3 unless the flasher sets it at run time"},
    {"own-class", LEVEL_WARNING, "the dialog has a window class of its own: the launcher finds only \"#32770\", -3"},
    {"launcher-missing", LEVEL_ERROR, "the package has no launcher KSTGATE.exe, or a directory of that name"},
    {"launcher-not-program", LEVEL_ERROR, "KSTGATE.exe cannot be read or is no Windows program"},
};

int FindFindingKind(const std::string& strCode)
{
    for (int nKind = 0; nKind < FK_COUNT; nKind++)
        if (strCode == g_aFindingKinds[nKind].lpCode)
            return nKind;
    return -1;
}

OUTPUTOPTIONS g_output = {FORMAT_TEXT, LEVEL_ERROR, FALSE, {}};

struct FINDING {
    int nKind;  // -1: an "ok" line
    int nArea;
    std::string strText;
    UINT nLine;
    std::string strFile;
};
static std::vector<FINDING> g_findings;
static std::string g_strFlasherFile;

void Report(int nKind, int nArea, const std::string& strText, UINT nLine, LPCSTR lpFile)
{
    std::string strFile;
    if (lpFile)
        strFile = lpFile;
    else if (nArea == AREA_SETTINGS)
        strFile = SETTINGS_FILE;
    else if (nArea == AREA_PROBE)
        strFile = PROBE_PROGRAM;
    else if (nArea == AREA_IMAGE)
        strFile = LoaderSettings.ImageFile;
    else if (nArea == AREA_FLASHER)
        strFile = g_strFlasherFile;
    else
        strFile = LAUNCHER_PROGRAM;
    g_findings.push_back(FINDING{nKind, nArea, strText, nLine, strFile});
}

void ReportOk(int nArea, const std::string& strText)
{
    g_findings.push_back(FINDING{-1, nArea, strText, 0, std::string()});
}

void SetFlasherFile(const std::string& strName)
{
    g_strFlasherFile = strName;
}

static BOOL PackageCharToWide(const char* lpChar, size_t nBytes, std::u16string* pstrWide)
{
    return AnsiToWide(std::string(lpChar, nBytes), pstrWide);
}

BOOL WriteFindings(BOOL bComplete)
{
    static const char* const s_aLevels[] = {"ok", "note", "warning", "error"};
    static const char* const s_aAreas[] = {"settings", "probe", "image", "flasher", "launcher"};
    BOOL bFails = FALSE;
    BOOL bJson = g_output.nFormat == FORMAT_JSON;
    std::string strOut;
    if (bJson)
        strOut = Format("{\"tool\": \"kstcheck\", \"version\": \"%s\", \"codePage\": %u, \"complete\": %s, "
                        "\"findings\": [",
                        KST_TOOL_VERSION, g_uCodePage, bComplete ? "true" : "false");
    BOOL bFirst = TRUE;
    for (int nArea = 0; nArea < AREA_COUNT; nArea++) {
        for (const FINDING& finding : g_findings) {
            if (finding.nArea != nArea)
                continue;
            if (finding.nKind >= 0 && g_output.abSuppressed[finding.nKind])
                continue;
            int nLevel = finding.nKind < 0 ? LEVEL_OK : g_aFindingKinds[finding.nKind].nLevel;
            if (nLevel != LEVEL_OK && nLevel >= g_output.nFailOn)
                bFails = TRUE;
            if (nLevel == LEVEL_OK && (g_output.bQuiet || bJson))
                continue;
            LPCSTR lpCode = finding.nKind < 0 ? "-" : g_aFindingKinds[finding.nKind].lpCode;
            if (!bJson) {
                strOut += Format("%s\t%s\t%s\t", s_aLevels[nLevel], s_aAreas[nArea], lpCode) +
                          ToolTextUtf8(finding.strText, TOOLTEXT_NAMED, PackageCharToWide) + "\n";
                continue;
            }
            strOut += Format("%s\n  {\"level\": \"%s\", \"area\": \"%s\", \"code\": \"%s\", \"message\": ",
                             bFirst ? "" : ",", s_aLevels[nLevel], s_aAreas[nArea], lpCode);
            strOut += JsonString(ToolTextUtf8(finding.strText, TOOLTEXT_JSON, PackageCharToWide));
            if (!finding.strFile.empty())
                strOut += ", \"file\": " + JsonString(ToolTextUtf8(finding.strFile, TOOLTEXT_JSON, PackageCharToWide));
            if (finding.nLine)
                strOut += Format(", \"line\": %u", finding.nLine);
            strOut += "}";
            bFirst = FALSE;
        }
    }
    if (bJson)
        strOut += bFirst ? "]}\n" : "\n]}\n";
    fwrite(strOut.data(), 1, strOut.size(), stdout);
    fflush(stdout);
    g_findings.clear();
    return bFails;
}

std::string Format(const char* lpFormat, ...)
{
    char szText[1024];
    va_list args;
    va_start(args, lpFormat);
    int nLength = vsnprintf(szText, sizeof szText, lpFormat, args);
    va_end(args);
    if (nLength < 0)
        return std::string();
    if ((size_t)nLength < sizeof szText)
        return std::string(szText, (size_t)nLength);
    std::string strText((size_t)nLength + 1, '\0');
    va_start(args, lpFormat);
    vsnprintf(&strText[0], strText.size(), lpFormat, args);
    va_end(args);
    strText.resize((size_t)nLength);
    return strText;
}

std::string Quoted(const std::string& strText)
{
    return "\"" + strText + "\"";
}

std::string LauncherStop(int nStage, int nCode)
{
    const RESULTMESSAGE* lpMessage = FindResultMessage(nStage, nCode);
    return Format("[%d] %s", nCode, lpMessage ? lpMessage->lpText : "");
}

void NoteCaseDiffers(int nArea, const std::string& strName, const std::string& strFound)
{
    if (!strFound.empty())
        Report(FK_CASE_DIFFERS, nArea,
               Format("%s found as %s: Windows matches file names whatever their letter case", strName.c_str(),
                      Quoted(strFound).c_str()));
}
