#include "tests/Support/Umockdev/UmockdevPreload.h"

#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace UmockdevTest {

bool UmockdevPreloadLoaded()
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::string(preload).find("libumockdev-preload") != std::string::npos;
}

void RestartWithUmockdevPreload()
{
    if (UmockdevPreloadLoaded() || std::getenv("ZT_UMOCKDEV_REEXEC"))
        return;
    std::ifstream commandLine("/proc/self/cmdline", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(commandLine)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    std::stringstream split(text);
    for (std::string argument; std::getline(split, argument, '\0');)
        arguments.push_back(argument);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const char* previous = std::getenv("LD_PRELOAD");
    const std::string preload =
        std::string("libumockdev-preload.so.0") + (previous && *previous ? std::string(":") + previous : "");
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    ::setenv("ZT_UMOCKDEV_REEXEC", "1", 1);
    ::execv("/proc/self/exe", argv.data());
}

std::string MakeTemporaryFolder()
{
    char folder[] = "/tmp/zt-umockdev-XXXXXX";
    if (!::mkdtemp(folder))
        return {};
    ::setenv("TMPDIR", folder, 1);
    return folder;
}

void RemoveTemporaryFolder(const std::string& folder)
{
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
}

namespace {

UMockdevTestbed* gTestbed = nullptr;

class CTestbedEnvironment final : public ::testing::Environment {
public:
    void SetUp() override
    {
        mFolder = MakeTemporaryFolder();
        gTestbed = umockdev_testbed_new();
    }
    void TearDown() override
    {
        g_clear_object(&gTestbed);
        RemoveTemporaryFolder(mFolder);
    }

private:
    std::string mFolder;
};

} // namespace

bool InstallTestbed()
{
    RestartWithUmockdevPreload();
    ::testing::AddGlobalTestEnvironment(new CTestbedEnvironment);
    return true;
}

UMockdevTestbed* Testbed()
{
    return gTestbed;
}

} // namespace UmockdevTest
