// Fuzzes the image version scan against a plain byte-by-byte walk of the
// same image (read a byte; at a hyphen read five more; on "0000-" go back
// ten bytes and read the version, else go back five). The two must agree on
// the code and on the bytes left in the buffer.
//
// Input: byte 0 holds the number of 64 KiB blocks of filler (bits 0-1) put
// before the rest and the buffer size (bits 2-3); byte 1 shortens the filler
// so that the rest starts that many bytes before a block boundary; byte 2 is
// the filler byte. The rest of the input follows the filler.
#include "checks/checks.h"
#include "fuzzutil.h"
#include "launch/loader.h"
#include "launch/results.h"

#define IMAGE_NAME "IMAGE.ROM"

// The walk, one byte at a time through a C library stream over the image's
// bytes (unbuffered, so that a hyphen-filled image costs no refills). A
// marker that starts fewer than four bytes into the file has no version.
static int ReferenceScan(const std::vector<uint8_t>& image, char* lpVersion)
{
    if (image.empty())
        return RC_IMAGE_VERSION;
    FILE* pFile = fmemopen((void*)image.data(), image.size(), "rb");
    if (!pFile)
        abort();
    setvbuf(pFile, NULL, _IOFBF, 64);
    int nResult = RC_IMAGE_VERSION;
    for (;;) {
        int c = fgetc(pFile);
        if (c == EOF)
            break;
        if (c != '-')
            continue;
        char abNext[5];
        int nNext = 0;
        while (nNext < 5) {
            int d = fgetc(pFile);
            if (d == EOF)
                break;
            abNext[nNext++] = (char)d;
        }
        if (nNext < 5)
            break;
        if (memcmp(abNext, "0000-", 5) == 0) {
            if (ftell(pFile) >= 10 && fseek(pFile, -10, SEEK_CUR) == 0 && fread(lpVersion, 1, 4, pFile) == 4)
                nResult = RC_SUCCESS;
            break;
        }
        fseek(pFile, -5, SEEK_CUR);
    }
    fclose(pFile);
    return nResult;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnterScratch({IMAGE_NAME});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 3)
        return -1;
    size_t nBlocks = pData[0] & 3;
    static const DWORD adwSizes[] = {260, BVSIZE, BVSIZE + 1, 8};
    DWORD dwSize = adwSizes[(pData[0] >> 2) & 3];
    size_t nFiller = nBlocks ? nBlocks * 65536 - pData[1] : 0;
    std::vector<uint8_t> image(nFiller, pData[2]);
    image.insert(image.end(), pData + 3, pData + nSize);
    FuzzWriteFile(IMAGE_NAME, image.data(), image.size());

    FakeReset();
    InitCodePage();
    ResetSettings();
    snprintf(LoaderSettings.ImageFile, sizeof LoaderSettings.ImageFile, "%s", IMAGE_NAME);

    char abExpected[4] = {0, 0, 0, 0};
    int nExpected = ReferenceScan(image, abExpected);
    FUZZ_CHECK(nExpected == RC_SUCCESS || nExpected == RC_IMAGE_VERSION);

    FuzzBuffer buffer = FuzzBufferNew(dwSize);
    int nCode = GetImageBiosVersion(buffer.lpData, dwSize);
    FUZZ_CHECK(nCode == nExpected);
    if (nCode == RC_SUCCESS)
        FUZZ_CHECK(memcmp(buffer.lpData, abExpected, 4) == 0);
    for (DWORD i = nCode == RC_SUCCESS ? 4 : 0; i < dwSize; i++)
        FUZZ_CHECK(buffer.lpData[i] == 0);
    FuzzBufferFree(&buffer);
    return 0;
}
