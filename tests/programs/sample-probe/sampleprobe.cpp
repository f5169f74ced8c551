// Sample probe: writes the answer file BV in its current directory.
// Environment: KST_PROBE_VERSION (default "1.05"), KST_PROBE_SECTION
// (default "BV"), KST_PROBE_KEY (default "BV"), KST_PROBE_NOFILE (set: write
// nothing), KST_PROBE_RAW (path of a file whose bytes become the answer file
// as they are), KST_PROBE_DELAY_MS, KST_PROBE_EXIT (exit code, default 0).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

static const char* Env(const char* lpName, const char* lpDefault)
{
    const char* lpValue = getenv(lpName);
    return lpValue ? lpValue : lpDefault;
}

int main()
{
    Sleep((DWORD)atoi(Env("KST_PROBE_DELAY_MS", "0")));
    const char* lpRaw = getenv("KST_PROBE_RAW");
    if (lpRaw) {
        FILE* pSource = fopen(lpRaw, "rb");
        FILE* pFile = pSource ? fopen("BV", "wb") : NULL;
        if (pFile) {
            char abChunk[4096];
            size_t nRead;
            while ((nRead = fread(abChunk, 1, sizeof abChunk, pSource)) > 0)
                fwrite(abChunk, 1, nRead, pFile);
            fclose(pFile);
        }
        if (pSource)
            fclose(pSource);
    } else if (!getenv("KST_PROBE_NOFILE")) {
        FILE* pFile = fopen("BV", "wb");
        if (pFile) {
            fprintf(pFile, "[%s]\r\n%s=%s\r\n", Env("KST_PROBE_SECTION", "BV"), Env("KST_PROBE_KEY", "BV"),
                    Env("KST_PROBE_VERSION", "1.05"));
            fclose(pFile);
        }
    }
    return (int)strtoul(Env("KST_PROBE_EXIT", "0"), NULL, 10);
}
