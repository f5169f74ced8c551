// The two programs of the package: the probe BIOSVER.EXE and the flasher
// named by the command line. Both must be Windows programs in the package;
// the flasher's dialog resources, when it has any, are looked at for the
// Flash BIOS button and the caption the launcher searches for.
#include <cstring>
#include <vector>

#include "kstcheck.h"
#include "launch/settings.h"
#include "launch/messages.h"
#include "launch/results.h"
#include "pefile.h"
#include "settings/codepage.h"
#include "settings/pathrule.h"

// Dialog captions listed when none equals the Title.
#define CAPTIONS_SHOWN 3

static bool ReadFromFile(void* pContext, uint64_t qwOffset, void* pBuffer, size_t nSize)
{
    FILE* pFile = (FILE*)pContext;
    if (qwOffset > (uint64_t)0x7FFFFFFFFFFFFFFFll || !FileSeek(pFile, (long long)qwOffset, SEEK_SET))
        return false;
    return fread(pBuffer, 1, nSize, pFile) == nSize;
}

// Reads what the program file holds; FALSE when it cannot be opened.
static BOOL ReadProgram(const std::string& strPath, PEINFO* pInfo)
{
    FILE* pFile = OpenSharedRead(strPath.c_str());
    if (!pFile)
        return FALSE;
    long long llSize = FileSeek(pFile, 0, SEEK_END) ? FileTell(pFile) : -1;
    ReadPeInfo(ReadFromFile, pFile, llSize > 0 ? (uint64_t)llSize : 0, pInfo);
    fclose(pFile);
    return TRUE;
}

// Why the system would not start the file, or NULL.
static const char* WhyNotStartable(const PEINFO* pInfo)
{
    switch (pInfo->nKind) {
    case PE_NO_MZ:
        return "it has no \"MZ\" header";
    case PE_NO_PE:
        return "its \"MZ\" header leads to no \"PE\" signature";
    case PE_CUT_HEADER:
        return "its headers are cut off";
    case PE_BAD_HEADER:
        return "its optional header is neither PE32 nor PE32+";
    default:
        break;
    }
    if (pInfo->wCharacteristics & PE_FILE_DLL)
        return "it is a DLL";
    return NULL;
}

// Reports the machine of a Windows program, and a file cut short.
static void ReportProgram(int nArea, const std::string& strName, const PEINFO* pInfo)
{
    const char* lpMachine = PeMachineName(pInfo->wMachine);
    if (lpMachine)
        ReportOk(nArea, Format("%s: a Windows program (%s)", strName.c_str(), lpMachine));
    else
        Report(FK_MACHINE_UNKNOWN, nArea,
               Format("%s: a Windows program for machine 0x%04X, none of x86, x64 and ARM64: "
                      "a notebook is unlikely to start it",
                      strName.c_str(), pInfo->wMachine));
    if (pInfo->bDataCut)
        Report(FK_PROGRAM_CUT, nArea,
               Format("%s looks cut off: its sections reach past the end of the file", strName.c_str()));
}

static void CheckAnswerFile();

void CheckProbe()
{
    static PEINFO s_info;
    CheckAnswerFile();
    std::string strStop = LauncherStop(STAGE_MACHINE, RC_NOT_FOUND);
    PKGFILE file = FindPackageFile(PROBE_PROGRAM);
    if (file.nKind != PKG_FILE) {
        // The launcher starts it from its own directory only.
        Report(FK_PROBE_MISSING, AREA_PROBE,
               Format("%s %s: %s", PROBE_PROGRAM,
                      file.nKind == PKG_DIRECTORY ? "is a directory" : "is missing (only the package's own counts)",
                      strStop.c_str()));
        return;
    }
    NoteCaseDiffers(AREA_PROBE, PROBE_PROGRAM, file.strFound);
    if (!ReadProgram(file.strPath, &s_info)) {
        Report(FK_PROBE_NOT_PROGRAM, AREA_PROBE, Format("%s cannot be read: %s", PROBE_PROGRAM, strStop.c_str()));
        return;
    }
    const char* lpWhy = WhyNotStartable(&s_info);
    if (lpWhy) {
        Report(FK_PROBE_NOT_PROGRAM, AREA_PROBE,
               Format("%s is no Windows program (%s): %s", PROBE_PROGRAM, lpWhy, strStop.c_str()));
        return;
    }
    ReportProgram(AREA_PROBE, PROBE_PROGRAM, &s_info);
}

// An answer file BV in the package: left from a run of the probe. The
// launcher deletes it after the probe; one it cannot delete (read-only, or
// a directory) the probe cannot write over either.
static void CheckAnswerFile()
{
    PKGFILE file = FindPackageFile(PROBE_ANSWER_FILE);
    std::string strStop = LauncherStop(STAGE_MACHINE, RC_MACHINE_VERSION);
    if (file.nKind == PKG_DIRECTORY)
        Report(FK_BV_UNDELETABLE, AREA_PROBE,
               Format("%s is a directory: the probe cannot write its answer there, and every run ends with %s",
                      PROBE_ANSWER_FILE, strStop.c_str()),
               0, PROBE_ANSWER_FILE);
    else if (file.nKind == PKG_FILE && IsReadOnlyFile(file.strPath))
        Report(FK_BV_UNDELETABLE, AREA_PROBE,
               Format("%s is read-only: the launcher cannot delete it nor the probe write its answer over it, and "
                      "every run ends with %s",
                      PROBE_ANSWER_FILE, strStop.c_str()),
               0, PROBE_ANSWER_FILE);
    else if (file.nKind == PKG_FILE)
        Report(FK_BV_LEFTOVER, AREA_PROBE,
               Format("%s lies in the package: the probe's answer file, left from a run, which the launcher reads as "
                      "this machine's version when the probe writes none",
                      PROBE_ANSWER_FILE),
               0, PROBE_ANSWER_FILE);
}

void CheckLauncher()
{
    static PEINFO s_info;
    PKGFILE file = FindPackageFile(LAUNCHER_PROGRAM);
    if (file.nKind != PKG_FILE) {
        Report(FK_LAUNCHER_MISSING, AREA_LAUNCHER,
               Format("%s %s: the package has no launcher to start", LAUNCHER_PROGRAM,
                      file.nKind == PKG_DIRECTORY ? "is a directory" : "is missing"));
        return;
    }
    NoteCaseDiffers(AREA_LAUNCHER, LAUNCHER_PROGRAM, file.strFound);
    if (!ReadProgram(file.strPath, &s_info)) {
        Report(FK_LAUNCHER_NOT_PROGRAM, AREA_LAUNCHER,
               Format("%s cannot be read: the package has no launcher to start", LAUNCHER_PROGRAM));
        return;
    }
    const char* lpWhy = WhyNotStartable(&s_info);
    if (lpWhy) {
        Report(FK_LAUNCHER_NOT_PROGRAM, AREA_LAUNCHER,
               Format("%s is no Windows program (%s): the package has no launcher to start", LAUNCHER_PROGRAM, lpWhy));
        return;
    }
    ReportProgram(AREA_LAUNCHER, LAUNCHER_PROGRAM, &s_info);
}

// ---- the flasher -------------------------------------------------------------

static std::string DialogName(const PEDIALOG* pDialog)
{
    if (!pDialog->bNamed)
        return Format("dialog %u", pDialog->wId);
    return "dialog " + Quoted(WideToAnsi(pDialog->szName) + (pDialog->bNameCut ? "..." : ""));
}

// What the dialog resources tell about the launcher's search for the
// flasher's window and its Flash BIOS button.
static void CheckDialogs(const std::string& strName, const PEINFO* pInfo)
{
    switch (pInfo->nResources) {
    case PE_RES_NONE:
        Report(FK_NO_DIALOGS, AREA_FLASHER,
               Format("%s has no dialog resources: it builds its dialog at run time, so control 101 and the "
                      "caption cannot be checked here",
                      strName.c_str()));
        return;
    case PE_RES_READ:
        break;
    default: {
        static const char* const s_aWhy[] = {"", "", "an entry lies outside the file's sections or past its end",
                                             "a directory leads back to one already read", "it has too many entries",
                                             "the file has too many sections"};
        Report(FK_RESOURCES_UNREADABLE, AREA_FLASHER,
               Format("the resources of %s cannot be read (%s): its dialogs are not checked", strName.c_str(),
                      s_aWhy[pInfo->nResources]));
        return;
    }
    }

    const PEDIALOG* pButtonDialog = NULL;
    BOOL bAnyCut = FALSE;
    for (uint32_t i = 0; i < pInfo->nDialogsKept; i++) {
        const PEDIALOG* pDialog = &pInfo->aDialogs[i];
        if (pDialog->bHasFlashButton && !pButtonDialog)
            pButtonDialog = pDialog;
        bAnyCut = bAnyCut || pDialog->bCut || pDialog->bUnreadable;
        if (pDialog->bUnreadable)
            Report(FK_DIALOG_UNREADABLE, AREA_FLASHER,
                   Format("%s of %s cannot be read: its data lies outside the file's sections or past its end",
                          DialogName(pDialog).c_str(), strName.c_str()));
        else if (pDialog->bCut)
            Report(FK_DIALOG_UNREADABLE, AREA_FLASHER,
                   Format("%s of %s is cut off: %u control%s read", DialogName(pDialog).c_str(), strName.c_str(),
                          pDialog->nControls, pDialog->nControls == 1 ? "" : "s"));
    }
    if (pInfo->nDialogs > pInfo->nDialogsKept)
        Report(FK_MANY_DIALOGS, AREA_FLASHER,
               Format("%s has %u dialogs: the first %u are checked", strName.c_str(), pInfo->nDialogs,
                      pInfo->nDialogsKept));
    if (pButtonDialog) {
        ReportOk(AREA_FLASHER,
               Format("%s of %s holds control 101, the Flash BIOS button", DialogName(pButtonDialog).c_str(),
                      strName.c_str()));
        // The launcher presses it only as a user could: once it and its
        // dialog are enabled.
        std::string strDialog = DialogName(pButtonDialog) + " of " + strName;
        std::string astrDisabled[2];
        if (pButtonDialog->bDisabled)
            astrDisabled[0] = strDialog;
        if (pButtonDialog->bFlashButtonDisabled)
            astrDisabled[1] = "control 101 of " + strDialog;
        for (const std::string& strWhat : astrDisabled)
            if (!strWhat.empty())
                Report(FK_BUTTON_DISABLED, AREA_FLASHER,
                       Format("%s starts disabled: the launcher waits about five seconds for the flasher to enable "
                              "it, and otherwise ends with %s",
                              strWhat.c_str(), LauncherStop(STAGE_FLASHER, RC_FLASH_BUTTON).c_str()));
    } else
        Report(FK_NO_BUTTON, AREA_FLASHER,
               Format("no dialog of %s holds a control with id 101%s: the launcher would end with %s, unless the "
                      "flasher adds the button at run time",
                      strName.c_str(), bAnyCut ? " (as far as they can be read)" : "",
                      LauncherStop(STAGE_FLASHER, RC_FLASH_BUTTON).c_str()));

    // The launcher finds the window by its caption, letter case aside.
    std::u16string strTitle;
    if (!AnsiToWide(LoaderSettings.Title, &strTitle)) {
        Report(FK_TITLE_NOT_TEXT, AREA_FLASHER,
               Format("the Title is no valid text in code page %u: dialog captions not compared", g_uCodePage));
        return;
    }
    std::string strCaptions;
    int nShown = 0;
    for (uint32_t i = 0; i < pInfo->nDialogsKept; i++) {
        const PEDIALOG* pDialog = &pInfo->aDialogs[i];
        if (pDialog->bUnreadable)
            continue;
        std::string strCaption = Quoted(WideToAnsi(pDialog->szCaption));
        if (!pDialog->bCaptionCut && EqualIgnoringCase(pDialog->szCaption, strTitle)) {
            ReportOk(AREA_FLASHER,
                   Format("the caption of %s, %s, equals the Title, letter case aside", DialogName(pDialog).c_str(),
                          strCaption.c_str()));
            if (pDialog->bOwnClass)
                Report(FK_OWN_CLASS, AREA_FLASHER,
                       Format("%s has a window class of its own: the launcher looks for the dialog class "
                              "\"#32770\" only and would end with %s",
                              DialogName(pDialog).c_str(), LauncherStop(STAGE_FLASHER, RC_FLASHER_WINDOW).c_str()));
            return;
        }
        if (nShown++ < CAPTIONS_SHOWN)
            strCaptions += (strCaptions.empty() ? "" : ", ") + strCaption;
    }
    Report(FK_NO_CAPTION, AREA_FLASHER,
           Format("no dialog caption equals the Title %s, letter case aside%s: the flasher must set it at run "
                  "time, or the launcher ends with %d",
                  Quoted(LoaderSettings.Title).c_str(), strCaptions.empty() ? "" : (" (" + strCaptions + ")").c_str(),
                  RC_FLASHER_WINDOW));
}

// The file name the start looks for: ".exe" is added to a name without an
// extension.
static std::string ProgramName(const std::string& strToken)
{
    size_t nLastPart = 0;
    for (LPCSTR p = strToken.c_str(); *p; p = NextCharAcp(p))
        if (*p == '\\' || *p == '/')
            nLastPart = (size_t)(p - strToken.c_str()) + 1;
    if (strToken.find('.', nLastPart) == std::string::npos)
        return strToken + ".exe";
    return strToken;
}

// A name of a ".bat" or ".cmd" file, as Windows opens it: the system
// starts such a file through the command interpreter.
static bool IsBatchFile(const std::string& strName)
{
    bool bFolderOnly;
    std::vector<std::string> parts = ResolvePackageName(strName.c_str(), &bFolderOnly);
    if (parts.empty())
        return false;
    std::string strLast = FoldAscii(parts.back());
    size_t nLength = strLast.size();
    return nLength > 4 && (strLast.compare(nLength - 4, 4, ".bat") == 0 || strLast.compare(nLength - 4, 4, ".cmd") == 0);
}

void CheckFlasher(LPCSTR lpCommandLine, std::string* pstrFlasher)
{
    static PEINFO s_info;
    pstrFlasher->clear();
    // The launcher's tail never begins with a blank or control byte.
    LPCSTR lpTail = lpCommandLine;
    while ((BYTE)*lpTail >= 0x01 && (BYTE)*lpTail <= 0x20)
        lpTail++;
    if (!*lpTail) {
        Report(FK_COMMAND_EMPTY, AREA_FLASHER,
               Format("the command line is empty: %s", LauncherStop(STAGE_HELP, RC_HELP).c_str()));
        return;
    }
    std::string strStop = LauncherStop(STAGE_FLASHER, RC_FLASHER_START);

    // The start takes a quoted name up to its closing quote. An unquoted
    // one ends at a blank or tab, unless no such file exists: then the
    // name runs on to the next blank, and so on.
    std::vector<std::string> candidates;
    if (lpTail[0] == '"') {
        LPCSTR lpClose = strchr(lpTail + 1, '"');
        candidates.push_back(lpClose ? std::string(lpTail + 1, (size_t)(lpClose - lpTail - 1)) : lpTail + 1);
    } else {
        for (LPCSTR p = lpTail;; p++) {
            if (!*p || *p == ' ' || *p == '\t')
                candidates.push_back(std::string(lpTail, (size_t)(p - lpTail)));
            if (!*p)
                break;
        }
    }
    std::string strFirst = ProgramName(candidates[0]);
    SetFlasherFile(strFirst);
    // The start opens the name by the resolver, as every name of the package.
    int nClass = PackageNameClass(strFirst.c_str());
    if (nClass == PKGNAME_DOTS) {
        Report(FK_DOTS_ELEMENT, AREA_FLASHER,
               Format("the flasher %s %s: %s", Quoted(strFirst).c_str(), PackageNameProblem(nClass), strStop.c_str()));
        return;
    }
    if (nClass != PKGNAME_INSIDE) {
        Report(FK_FLASHER_OUTSIDE, AREA_FLASHER,
               Format("the flasher %s %s: a package must carry its flasher, or the launcher ends with %s",
                      Quoted(strFirst).c_str(), PackageNameProblem(nClass), strStop.c_str()));
        return;
    }
    PKGFILE file;
    std::string strName;
    for (const std::string& strCandidate : candidates) {
        std::string strTry = ProgramName(strCandidate);
        if (PackageNameClass(strTry.c_str()) != PKGNAME_INSIDE)
            continue;
        file = FindPackageFile(strTry.c_str());
        if (file.nKind == PKG_FILE) {
            strName = strTry;
            break;
        }
    }
    if (strName.empty()) {
        file = FindPackageFile(strFirst.c_str());
        Report(FK_FLASHER_MISSING, AREA_FLASHER,
               Format("the flasher %s %s: %s", Quoted(strFirst).c_str(),
                      file.nKind == PKG_DIRECTORY
                          ? "is a directory"
                          : "is missing from the package (one on the user's search path does not count)",
                      strStop.c_str()));
        return;
    }
    *pstrFlasher = strName;
    SetFlasherFile(strName);
    if (strName != strFirst)
        Report(FK_FLASHER_BLANKS, AREA_FLASHER,
               Format("the flasher's name %s holds blanks and no quotes: the start tries %s first", Quoted(strName).c_str(),
                      Quoted(strFirst).c_str()));
    NoteCaseDiffers(AREA_FLASHER, strName, file.strFound);
    if (IsBatchFile(strName)) {
        Report(FK_FLASHER_BATCH, AREA_FLASHER,
               Format("the flasher %s is a batch file: the launcher starts it through the command interpreter, and "
                      "the dialog belongs to the program that it starts, which cannot be checked here",
                      Quoted(strName).c_str()));
        return;
    }
    if (!ReadProgram(file.strPath, &s_info)) {
        Report(FK_FLASHER_NOT_PROGRAM, AREA_FLASHER, Format("%s cannot be read: %s", strName.c_str(), strStop.c_str()));
        return;
    }
    const char* lpWhy = WhyNotStartable(&s_info);
    if (lpWhy) {
        Report(FK_FLASHER_NOT_PROGRAM, AREA_FLASHER,
               Format("%s is no Windows program (%s): %s", strName.c_str(), lpWhy, strStop.c_str()));
        return;
    }
    ReportProgram(AREA_FLASHER, strName, &s_info);
    CheckDialogs(strName, &s_info);
}
