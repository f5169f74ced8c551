// kstcheck's findings: kept as they are reported, written at the end area
// by area, one a line, and the pieces of text they are made of.
#include "findings.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "launch/messages.h"
#include "toolout.h"

struct FINDING {
    int nLevel;
    int nArea;
    std::string strText;
};
static std::vector<FINDING> g_findings;

void Report(int nLevel, int nArea, const std::string& strText)
{
    g_findings.push_back(FINDING{nLevel, nArea, strText});
}

int WriteFindings()
{
    static const char* const s_aLevels[] = {"ok", "note", "warning", "error"};
    static const char* const s_aAreas[] = {"settings", "probe", "image", "flasher"};
    int nHighest = LEVEL_OK;
    for (int nArea = 0; nArea < AREA_COUNT; nArea++) {
        for (const FINDING& finding : g_findings) {
            if (finding.nArea != nArea)
                continue;
            printf("%s\t%s\t%s\n", s_aLevels[finding.nLevel], s_aAreas[nArea], EscapeToolText(finding.strText, TRUE).c_str());
            if (finding.nLevel > nHighest)
                nHighest = finding.nLevel;
        }
    }
    fflush(stdout);
    g_findings.clear();
    return nHighest;
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
        Report(LEVEL_NOTE, nArea,
               Format("%s found as %s: Windows matches file names whatever their letter case", strName.c_str(),
                      Quoted(strFound).c_str()));
}
