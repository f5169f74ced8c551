// The launcher restricts the DLL search before it does anything else.
#include "launch/results.h"
#include "testutil.h"

namespace {

class DllSearchTest : public KstTest {};

TEST_F(DllSearchTest, RestrictedToTheSystemDirectoryBeforeAnyOtherCall)
{
    const std::string strLookup = "GetModuleHandleA KERNEL32.DLL -> KERNEL32";
    const std::string strSystem32 = "SetDefaultDllDirectories 0x800";
    const std::string strFallback = "SetDllDirectoryA \"\"";
    struct {
        int nMode;
        std::vector<std::string> start;
    } cases[] = {
        // Where KERNEL32 has the call, it is used and nothing else is needed.
        {FAKE_DLLDIRS_PRESENT, {strLookup, "GetProcAddress SetDefaultDllDirectories -> found", strSystem32}},
        // Windows Vista, or 7 without its update: the current directory goes.
        {FAKE_DLLDIRS_ABSENT, {strLookup, "GetProcAddress SetDefaultDllDirectories -> NULL", strFallback}},
        // A call that fails leaves the search as it was: fall back as well.
        {FAKE_DLLDIRS_FAIL,
         {strLookup, "GetProcAddress SetDefaultDllDirectories -> found", strSystem32, strFallback}},
    };
    for (const auto& c : cases) {
        FakeReset();
        FakeSetDllDirectoriesApi(c.nMode);
        FakeSetCommandLine("KSTGATE.EXE");
        EXPECT_EQ(WinMain(NULL, NULL, NULL, 1), RC_HELP);
        EXPECT_EQ(FakeFirstCall(), "GetModuleHandleA") << c.nMode;
        const std::vector<std::string>& log = FakeLog();
        ASSERT_GT(log.size(), c.start.size()) << c.nMode;
        for (size_t i = 0; i < c.start.size(); i++)
            EXPECT_EQ(log[i], c.start[i]) << c.nMode << " line " << i;
        // The guard comes right after, and the search is set up only once.
        EXPECT_EQ(log[c.start.size()].rfind("CreateMutexA ", 0), 0u) << c.nMode;
        EXPECT_EQ(FakeLogCount("SetDefaultDllDirectories") + FakeLogCount("SetDllDirectoryA"),
                  (int)(c.start.size() - 2)) << c.nMode;
    }
}

}  // namespace
