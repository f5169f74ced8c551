// The image named by ImageFile: the version the launcher will show, from
// its own scan, and where the markers lie.
#include <cstring>

#include "checks/checks.h"
#include "checks/markerscan.h"
#include "kstcheck.h"
#include "launch/loader.h"
#include "launch/messages.h"
#include "launch/results.h"
#include "settings/pathrule.h"

#define MARKER_READ_SIZE 65536
// Bytes kept from one read to the next: a marker and the version before it
// may span two reads.
#define MARKER_CARRY (BVSIZE + MARKER_SIZE - 1)

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

// Finds the first marker and the first later one whose version differs;
// FALSE when the image cannot be read.
static BOOL FindMarkers(const std::string& strPath, MARKERS* pMarkers)
{
    static char s_abBuffer[MARKER_CARRY + MARKER_READ_SIZE];
    pMarkers->llFirst = -1;
    pMarkers->llOther = -1;
    FILE* pFile = OpenSharedRead(strPath.c_str());
    if (!pFile)
        return FALSE;
    long long llBase = 0;  // file offset of s_abBuffer[0]
    size_t nHave = 0;      // bytes in the buffer
    size_t nStart = 0;     // the first start not yet judged
    for (;;) {
        size_t nRead = fread(s_abBuffer + nHave, 1, MARKER_READ_SIZE, pFile);
        if (nRead == 0)
            break;
        nHave += nRead;
        size_t nEnd = nHave >= MARKER_SIZE ? nHave - MARKER_SIZE + 1 : 0;
        for (size_t nAt = nStart; (nAt = FindMarker(s_abBuffer, nAt, nEnd)) != NO_MARKER; nAt++) {
            // Only a marker at the start of the file has fewer than four
            // bytes before it in the buffer.
            char abVersion[BVSIZE];
            memset(abVersion, 0, sizeof abVersion);
            if (nAt >= BVSIZE)
                memcpy(abVersion, s_abBuffer + nAt - BVSIZE, BVSIZE);
            if (pMarkers->llFirst < 0) {
                pMarkers->llFirst = llBase + (long long)nAt;
                memcpy(pMarkers->abFirst, abVersion, BVSIZE);
            } else if (ShownVersion(abVersion) != ShownVersion(pMarkers->abFirst)) {
                pMarkers->llOther = llBase + (long long)nAt;
                memcpy(pMarkers->abOther, abVersion, BVSIZE);
                fclose(pFile);
                return TRUE;
            }
        }
        size_t nKeepFrom = nEnd >= BVSIZE ? nEnd - BVSIZE : 0;
        memmove(s_abBuffer, s_abBuffer + nKeepFrom, nHave - nKeepFrom);
        llBase += (long long)nKeepFrom;
        nHave -= nKeepFrom;
        nStart = nEnd - nKeepFrom;
    }
    fclose(pFile);
    return TRUE;
}

static std::string OffsetText(long long llOffset)
{
    return Format("%lld (0x%llX)", llOffset, llOffset);
}

void CheckImage()
{
    std::string strImage = LoaderSettings.ImageFile;
    std::string strName = Quoted(strImage);
    int nClass = ClassifyName(strImage.c_str());
    if (LeavesPackage(nClass))
        Report(LEVEL_WARNING, AREA_IMAGE,
               Format("ImageFile %s %s: the package should carry its image", strName.c_str(), PathProblem(nClass)));
    PKGFILE file = FindPackageFile(strImage.c_str());
    if (!file.strFound.empty())
        Report(LEVEL_NOTE, AREA_IMAGE,
               Format("%s found as %s: Windows matches file names whatever their letter case", strName.c_str(),
                      Quoted(file.strFound).c_str()));

    // The launcher's own scan, of the file as this system names it.
    int nCode = RC_IMAGE_OPEN;
    char szVersion[FIELD_SIZE];
    memset(szVersion, 0, sizeof szVersion);
    if (file.nKind == PKG_FILE && file.strPath.size() < sizeof LoaderSettings.ImageFile) {
        strcpy(LoaderSettings.ImageFile, file.strPath.c_str());
        nCode = GetImageBiosVersion(szVersion, sizeof szVersion);
        strcpy(LoaderSettings.ImageFile, strImage.c_str());
    }
    if (nCode == RC_IMAGE_OPEN) {
        const char* lpWhy = file.nKind == PKG_MISSING       ? "is missing"
                            : file.nKind == PKG_DIRECTORY   ? "is a directory"
                            : file.nKind == PKG_UNREACHABLE ? "cannot be looked up on this host"
                                                            : "cannot be opened";
        Report(LEVEL_ERROR, AREA_IMAGE,
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
        Report(LEVEL_ERROR, AREA_IMAGE,
               Format("%s %s: %s", strName.c_str(), strWhy.c_str(), LauncherStop(STAGE_IMAGE, nCode).c_str()));
        return;
    }
    std::string strVersion = Quoted(szVersion);
    if (!bScanned || markers.llFirst < 0) {
        Report(LEVEL_OK, AREA_IMAGE, Format("%s: version %s", strName.c_str(), strVersion.c_str()));
        return;
    }
    Report(LEVEL_OK, AREA_IMAGE,
           Format("%s: version %s, marker at offset %s", strName.c_str(), strVersion.c_str(),
                  OffsetText(markers.llFirst).c_str()));
    if (markers.llOther >= 0)
        Report(LEVEL_WARNING, AREA_IMAGE,
               Format("%s holds a later marker at offset %s with version %s: the launcher shows the first, %s",
                      strName.c_str(), OffsetText(markers.llOther).c_str(),
                      Quoted(ShownVersion(markers.abOther)).c_str(), strVersion.c_str()));
}
