// After every unit test, nothing the product opened may still be open: no
// file of the settings reader or the image scan, no process or thread
// handle of the probe or the flasher. A test that leaves one open fails,
// naming it. The fake keeps the list across its resets, so every round of
// a test that resets the machine in a loop counts.
#include <gtest/gtest.h>

#include "fake_platform.h"

namespace {

class LeakCheck : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override
    {
        FakeForgetOpenResources();
    }

    void OnTestEnd(const ::testing::TestInfo&) override
    {
        for (const std::string& strOpen : FakeOpenResources())
            ADD_FAILURE() << "left open by the product: " << strOpen;
        FakeForgetOpenResources();
    }
};

// Registered before the tests run, for every test of the program.
const bool g_bLeakCheckRegistered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeakCheck);
    return true;
}();

}  // namespace
