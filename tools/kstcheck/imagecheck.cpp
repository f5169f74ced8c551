// The image named by ImageFile: the version the launcher will show, from
// its own scan, and where the markers lie.
#include <cstring>

#include "checks/checks.h"
#include "checks/markerscan.h"
#include "kstcheck.h"
#include "launch/settings.h"
#include "launch/messages.h"
#include "launch/results.h"
#include "settings/pathrule.h"

struct MARKERS {
    long long llFirst;        // offset of the first marker, -1 for none
    char abFirst[BVSIZE];     // the bytes before it (when there are four)
    long long llOther;        // the first later marker whose version is shown otherwise, -1 for none
    char abOther[BVSIZE];
};

// The version as the launcher shows it: up to its first zero byte.
static std::string ShownVersion(const char* abVersion)
{
    size_t nLength = 0;
    while (nLength < BVSIZE && abVersion[nLength])
        nLength++;
    return std::string(abVersion, nLength);
}

// Keeps the first marker, and the first later one whose version differs,
// then ends the scan.
static BOOL NoteMarker(unsigned long long qwOffset, const char* lpVersion, void* lpContext)
{
    MARKERS* pMarkers = (MARKERS*)lpContext;
    char abVersion[BVSIZE];
    memset(abVersion, 0, sizeof abVersion);
    if (lpVersion)
        memcpy(abVersion, lpVersion, BVSIZE);
    if (pMarkers->llFirst < 0) {
        pMarkers->llFirst = (long long)qwOffset;
        memcpy(pMarkers->abFirst, abVersion, BVSIZE);
        return TRUE;
    }
    if (ShownVersion(abVersion) == ShownVersion(pMarkers->abFirst))
        return TRUE;
    pMarkers->llOther = (long long)qwOffset;
    memcpy(pMarkers->abOther, abVersion, BVSIZE);
    return FALSE;
}

// Finds the first marker and the first later one whose version differs,
// with the launcher's own scan; FALSE when the image cannot be read.
static BOOL FindMarkers(const std::string& strPath, MARKERS* pMarkers)
{
    pMarkers->llFirst = -1;
    pMarkers->llOther = -1;
    return ScanImageMarkers(strPath.c_str(), NoteMarker, pMarkers) == RC_SUCCESS;
}

static std::string OffsetText(long long llOffset)
{
    return Format("%lld (0x%llX)", llOffset, llOffset);
}

void CheckImage()
{
    std::string strImage = LoaderSettings.ImageFile;
    std::string strName = Quoted(strImage);
    // Windows opens the name by the resolver: a name that leads out of the
    // package reads a file of the build host here and none on the target.
    int nClass = PackageNameClass(strImage.c_str());
    if (nClass == PKGNAME_DOTS) {
        Report(FK_DOTS_ELEMENT, AREA_IMAGE,
               Format("%s %s: %s", strName.c_str(), PackageNameProblem(nClass),
                      LauncherStop(STAGE_IMAGE, RC_IMAGE_OPEN).c_str()));
        return;
    }
    if (nClass != PKGNAME_INSIDE) {
        Report(FK_IMAGE_OUTSIDE, AREA_IMAGE,
               Format("ImageFile %s %s: the package must carry its image, or on the target the launcher ends with %s",
                      strName.c_str(), PackageNameProblem(nClass), LauncherStop(STAGE_IMAGE, RC_IMAGE_OPEN).c_str()));
        return;
    }
    PKGFILE file = FindPackageFile(strImage.c_str());
    NoteCaseDiffers(AREA_IMAGE, strName, file.strFound);

    // The launcher's own scan, of the file as this system names it.
    int nCode = RC_IMAGE_OPEN;
    char szVersion[FIELD_SIZE];
    memset(szVersion, 0, sizeof szVersion);
    if (file.nKind == PKG_FILE)
        nCode = GetImageBiosVersionOf(file.strPath.c_str(), szVersion, sizeof szVersion);
    if (nCode == RC_IMAGE_OPEN) {
        const char* lpWhy = file.nKind == PKG_MISSING       ? "is missing"
                            : file.nKind == PKG_DIRECTORY   ? "is a directory"
                            : file.nKind == PKG_UNREACHABLE ? "cannot be looked up on this host"
                                                            : "cannot be opened";
        Report(FK_IMAGE_MISSING, AREA_IMAGE,
               Format("%s %s: %s", strName.c_str(), lpWhy, LauncherStop(STAGE_IMAGE, RC_IMAGE_OPEN).c_str()));
        return;
    }

    MARKERS markers;
    BOOL bScanned = FindMarkers(file.strPath, &markers);
    if (nCode != RC_SUCCESS) {
        std::string strWhy = "holds no version marker \"-0000-\"";
        if (bScanned && markers.llFirst >= 0)
            strWhy = Format("has its first marker \"-0000-\" at offset %s, with fewer than %d bytes before it",
                            OffsetText(markers.llFirst).c_str(), BVSIZE);
        Report(FK_IMAGE_NO_VERSION, AREA_IMAGE,
               Format("%s %s: %s", strName.c_str(), strWhy.c_str(), LauncherStop(STAGE_IMAGE, nCode).c_str()));
        return;
    }
    std::string strVersion = Quoted(szVersion);
    if (!bScanned || markers.llFirst < 0) {
        ReportOk(AREA_IMAGE, Format("%s: version %s", strName.c_str(), strVersion.c_str()));
        return;
    }
    ReportOk(AREA_IMAGE,
           Format("%s: version %s, marker at offset %s", strName.c_str(), strVersion.c_str(),
                  OffsetText(markers.llFirst).c_str()));
    if (markers.llOther >= 0)
        Report(FK_IMAGE_LATER_MARKER, AREA_IMAGE,
               Format("%s holds a later marker at offset %s with version %s: the launcher shows the first, %s",
                      strName.c_str(), OffsetText(markers.llOther).c_str(),
                      Quoted(ShownVersion(markers.abOther)).c_str(), strVersion.c_str()));
}
