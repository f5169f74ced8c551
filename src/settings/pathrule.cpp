#include "settings/pathrule.h"

#include "settings/codepage.h"

BOOL IsParentElement(LPCSTR lpElement, size_t nLength)
{
    size_t nDots = 0;
    for (size_t i = 0; i < nLength; i++) {
        if (lpElement[i] == '.')
            nDots++;
        else if (lpElement[i] != ' ')
            return FALSE;
    }
    return nDots >= 2;
}

// "" and "." keep the depth.
static BOOL IsHereElement(LPCSTR lpElement, size_t nLength)
{
    return nLength == 0 || (nLength == 1 && lpElement[0] == '.');
}

int ClassifyName(LPCSTR lpName)
{
    if (!lpName || !lpName[0])
        return NAME_EMPTY;
    if (lpName[0] == '\\' || lpName[0] == '/')
        return NAME_ABSOLUTE;
    if (((lpName[0] >= 'A' && lpName[0] <= 'Z') || (lpName[0] >= 'a' && lpName[0] <= 'z')) && lpName[1] == ':')
        return NAME_DRIVE;
    for (LPCSTR p = lpName; *p; p = NextCharAcp(p))
        if (*p == ':')
            return NAME_COLON;

    // Walk the elements: the name must never reach above the folder, not
    // even on the way to a name inside it again.
    int nDepth = 0;
    LPCSTR lpElement = lpName;
    for (LPCSTR p = lpName;; p = NextCharAcp(p)) {
        if (*p && *p != '\\' && *p != '/')
            continue;
        size_t nLength = (size_t)(p - lpElement);
        if (IsParentElement(lpElement, nLength)) {
            if (--nDepth < 0)
                return NAME_CLIMBS;
        } else if (!IsHereElement(lpElement, nLength)) {
            nDepth++;
        }
        if (!*p)
            break;
        lpElement = p + 1;
    }
    return NAME_INSIDE;
}

BOOL IsNameInsideFolder(LPCSTR lpName)
{
    return ClassifyName(lpName) == NAME_INSIDE;
}
