// kstcheck's findings: one a line on standard output, LEVEL<TAB>AREA<TAB>TEXT,
// and the pieces of text they are made of. Used by the checks and by main.
#ifndef KST_FINDINGS_H
#define KST_FINDINGS_H

#include <string>

#include "platform/platform.h"

enum { LEVEL_OK, LEVEL_NOTE, LEVEL_WARNING, LEVEL_ERROR };
enum { AREA_SETTINGS, AREA_PROBE, AREA_IMAGE, AREA_FLASHER, AREA_COUNT };

// Records one finding. All are written at the end, area by area, each as
// LEVEL<TAB>AREA<TAB>TEXT with the bytes of TEXT escaped as EscapeToolText
// does, with named tabs, line feeds and carriage returns.
void Report(int nLevel, int nArea, const std::string& strText);
// Writes the findings to standard output and forgets them; returns the
// highest level.
int WriteFindings();

std::string Format(const char* lpFormat, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// strText in double quotes.
std::string Quoted(const std::string& strText);
// How the launcher stops: "[-33] Load KESTROM.INI fail.\n...".
std::string LauncherStop(int nStage, int nCode);

// A note that strName was found as strFound, a name that differs from it in
// letter case only (on hosts other than Windows); nothing when strFound is
// empty.
void NoteCaseDiffers(int nArea, const std::string& strName, const std::string& strFound);

#endif
