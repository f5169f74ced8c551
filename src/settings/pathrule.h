// Where a file name from the settings leads, seen from the launcher's own
// folder (the current directory). The launcher deletes a backup file only
// when its name stays inside that folder.
#ifndef KST_PATHRULE_H
#define KST_PATHRULE_H

#include <cstddef>

#include "platform/platform.h"

enum {
    NAME_INSIDE,    // a file in the folder or below it
    NAME_EMPTY,     // no name at all
    NAME_ABSOLUTE,  // starts with "\" or "/": the drive's root, or another machine
    NAME_DRIVE,     // a drive letter and ":" ("C:\x", or "C:x" in that drive's own directory)
    NAME_COLON,     // a ":" elsewhere: a stream of a file ("OLD.BAK:s")
    NAME_CLIMBS     // an element ".." (or the like) leads above the folder
};

// The class of lpName. Both "\" and "/" separate elements; under a
// double-byte code page a trail byte is never taken for a separator or ":".
int ClassifyName(LPCSTR lpName);

// TRUE only for NAME_INSIDE.
BOOL IsNameInsideFolder(LPCSTR lpName);

// An element of nLength bytes made only of dots and blanks with two dots or
// more, which the launcher counts as the parent directory. Windows takes
// only ".." for the parent ("..." and ". ." name folders), so this count
// never finds a name inside the folder that Windows opens outside it.
BOOL IsParentElement(LPCSTR lpElement, size_t nLength);

#endif
