// Shared fixture of the unit tests: a fresh fake machine and a fresh,
// empty working directory for every test.
#ifndef KST_TESTUTIL_H
#define KST_TESTUTIL_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "launch/loader.h"
#include "fake_platform.h"
#include "settings/codepage.h"

inline void WriteFile(const std::string& strName, const std::string& strData)
{
    std::ofstream file(strName, std::ios::binary);
    file << strData;
}

inline bool FileExists(const std::string& strName)
{
    struct stat st;
    return stat(strName.c_str(), &st) == 0;
}

inline std::string ReadFileText(const std::string& strName)
{
    std::ifstream file(strName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class KstTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeReset();
        InitCodePage();
        ResetSettings();
        char szTemplate[] = "/tmp/kst-unit-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_strDir = szTemplate;
        char szOld[4096];
        ASSERT_NE(getcwd(szOld, sizeof szOld), nullptr);
        m_strOldDir = szOld;
        ASSERT_EQ(chdir(m_strDir.c_str()), 0);
    }

    void TearDown() override
    {
        ASSERT_EQ(chdir(m_strOldDir.c_str()), 0);
        std::string strCommand = "rm -rf '" + m_strDir + "'";
        ASSERT_EQ(system(strCommand.c_str()), 0);
        FakeReset();
        InitCodePage();
    }

    // Switches the fake machine to another ANSI code page.
    void UseCodePage(UINT uAcp)
    {
        FakeSetCodePage(uAcp);
        InitCodePage();
    }

    std::string m_strDir;
    std::string m_strOldDir;
};

#endif
