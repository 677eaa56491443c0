// The program's answers for people and scripts, run as they run it: --help in the user's
// language, the query's JSON object, and a firmware file given as a plain argument, as the
// desktop passes a file opened with the updater.

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using UpdaterProcess::Contains;
using UpdaterProcess::Describe;
using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;

// The sandbox with the user's language set through LANG alone.
void SetLanguage(Sandbox& sandbox, const std::string& lang)
{
    sandbox.SetVariable("LC_ALL", "");
    sandbox.SetVariable("LC_MESSAGES", "");
    sandbox.SetVariable("LANG", lang);
}

struct HelpCase {
    const char* name;
    const char* argument;
    const char* lang;
    std::vector<std::string> expected; // parts of the text in that language
};

void PrintTo(const HelpCase& c, std::ostream* out) { *out << c.name; }

class Help : public ::testing::TestWithParam<HelpCase> {};

TEST_P(Help, PrintsOptionsExitCodesAndFoldersOnStandardOutputAndExitsWithZero)
{
    const HelpCase& c = GetParam();
    Sandbox sandbox;
    SetLanguage(sandbox, c.lang);
    const std::string program = UpdaterProcess::BinaryPath();
    const Result result = sandbox.RunUpdater({program, c.argument});
    ASSERT_EQ(result.ExitCode, 0) << Describe(result);
    EXPECT_EQ(result.StandardError, "");
    // Every option and every exit code, whatever the language.
    for (const char* part : {"-RETURN_UPDATE_MODE_STATUS", "--json", "-SILENT", "-SILENT_IF_UPDATE_NOT_NEEDED",
                             "-START_UPDATE_AUTOMATICALLY", "-ALWAYS_UPDATE", "-ABSOLUTE_FIRMWARE_FILE_PATH=",
                             "-FIRMWARE_IMAGE_NAME=", "-DEVICE_PID=", "-DEBUG_CONSOLE", "-SIMULATE_DEVICES", "--version",
                             "\n  1\n", "\n  5\n"})
        EXPECT_TRUE(Contains(result.StandardOutput, part)) << "no \"" << part << "\" in:\n" << result.StandardOutput;
    const std::string programFolder = std::filesystem::path(program).parent_path().string();
    EXPECT_TRUE(Contains(result.StandardOutput, programFolder + "\n"))
        << "the firmware folder " << programFolder << " is not named:\n" << result.StandardOutput;
    EXPECT_TRUE(Contains(result.StandardOutput, (sandbox.Folder() / "config" / "Halvard").string()))
        << "the settings folder is not named:\n" << result.StandardOutput;
    for (const std::string& part : c.expected)
        EXPECT_TRUE(Contains(result.StandardOutput, part)) << "no \"" << part << "\" in:\n" << result.StandardOutput;
    // Help reads nothing of the user's and makes no folder.
    EXPECT_FALSE(std::filesystem::exists(sandbox.Folder() / "config" / "Halvard")) << "--help made the settings folder";
    EXPECT_FALSE(std::filesystem::exists(sandbox.Folder() / "state" / "Halvard")) << "--help made the state folder";
}

INSTANTIATE_TEST_SUITE_P(
    Languages, Help,
    ::testing::Values(HelpCase{"English", "--help", "en_US.UTF-8", {"Options:", "an update is needed", "firmware files: "}},
                      HelpCase{"GermanShortOption", "-h", "de_DE.UTF-8", {"Optionen:", "ein Update ist nötig", "Firmware-Dateien: "}},
                      HelpCase{"FrenchQuestionMark", "-?", "fr_FR.UTF-8", {"Options :", "une mise à jour est nécessaire"}},
                      HelpCase{"Spanish", "--help", "es_ES.UTF-8", {"Opciones:", "se necesita una actualización"}},
                      HelpCase{"Japanese", "--help", "ja_JP.UTF-8", {"オプション:", "更新が必要です"}},
                      HelpCase{"OtherLanguageIsEnglish", "--help", "sv_SE.UTF-8", {"Options:"}}),
    [](const ::testing::TestParamInfo<HelpCase>& info) { return std::string(info.param.name); });

TEST(Help, AfterOtherOptionsStillOnlyHelps)
{
    Sandbox sandbox;
    const Result result = sandbox.RunUpdater(
        {UpdaterProcess::BinaryPath(), "-SILENT", "-SIMULATE_DEVICES=00.30,00.49", "--help"});
    EXPECT_EQ(result.ExitCode, 0) << Describe(result);
    EXPECT_TRUE(Contains(result.StandardOutput, "-RETURN_UPDATE_MODE_STATUS")) << result.StandardOutput;
    EXPECT_FALSE(std::filesystem::exists(sandbox.Folder() / "state" / "Halvard")) << "--help ran the update it followed";
}

// ---- --json ---------------------------------------------------------------------------------------

struct JsonCase {
    const char* name;
    const char* devices;
    int exitCode;
    std::vector<std::string> expected;
};

void PrintTo(const JsonCase& c, std::ostream* out) { *out << c.name; }

class QueryJson : public ::testing::TestWithParam<JsonCase> {};

TEST_P(QueryJson, PrintsOneObjectWithEachDeviceAndKeepsTheExitStatus)
{
    const JsonCase& c = GetParam();
    Sandbox sandbox;
    const Result result = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", "--json",
                                              std::string("-SIMULATE_DEVICES=") + c.devices});
    EXPECT_EQ(result.ExitCode, c.exitCode) << Describe(result);
    EXPECT_EQ(result.StandardError, "");
    const std::string& json = result.StandardOutput;
    ASSERT_FALSE(json.empty()) << "no JSON on standard output";
    EXPECT_EQ(json.front(), '{') << json;
    EXPECT_EQ(json.find('\n'), json.size() - 1) << "not one line ending in a newline: " << json;
    EXPECT_TRUE(Contains(json, "\"exit_status\":" + std::to_string(c.exitCode) + ",")) << json;
    for (const std::string& part : c.expected)
        EXPECT_TRUE(Contains(json, part)) << "no " << part << " in " << json;
}

INSTANTIATE_TEST_SUITE_P(
    States, QueryJson,
    ::testing::Values(
        JsonCase{"BothOld",
                 "00.30,00.49",
                 5,
                 {"{\"role\":\"controller\",\"found\":true,\"mode\":\"normal\",\"version\":\"00.30\",\"bootloader_serial\":null,"
                  "\"file\":\"qx31_tp_update_00_31_120936.dfu\",\"file_present\":true,\"file_version\":\"00.31\","
                  "\"update_needed\":true}",
                  "{\"role\":\"wheel_display\",\"found\":true,\"mode\":\"normal\",\"version\":\"00.49\"",
                  "\"file_version\":\"00.50\",\"update_needed\":true}"}},
        JsonCase{"UpToDate", "00.31,00.50", 4, {"\"version\":\"00.31\"", "\"version\":\"00.50\"", "\"update_needed\":false}]}"}},
        JsonCase{"DisplayInUpdateMode",
                 "00.31,dfu",
                 3,
                 {"{\"role\":\"wheel_display\",\"found\":true,\"mode\":\"update\",\"version\":null,\"bootloader_serial\":\""}},
        JsonCase{"EnumerationFails", "00.30,00.49,enumeration-fails", 1, {"\"found\":false,\"mode\":\"absent\""}},
        JsonCase{"NothingPluggedIn",
                 "-,-",
                 1,
                 {"{\"role\":\"controller\",\"found\":false,\"mode\":\"absent\",\"version\":null",
                  "{\"role\":\"wheel_display\",\"found\":false,\"mode\":\"absent\""}}),
    [](const ::testing::TestParamInfo<JsonCase>& info) { return std::string(info.param.name); });

TEST(QueryJson, WithoutTheQueryPrintsNothing)
{
    Sandbox sandbox;
    const Result result = sandbox.RunUpdater(
        {UpdaterProcess::BinaryPath(), "-SILENT", "--json", "-SIMULATE_DEVICES=00.31,00.50"});
    EXPECT_EQ(result.ExitCode, 0) << Describe(result);
    EXPECT_EQ(result.StandardOutput, "") << "--json printed outside query mode";
}

// ---- A plain argument is the firmware file --------------------------------------------------------

TEST(FileArgument, APlainRelativePathIsTheSelectedFileWithItsAbsolutePath)
{
    Sandbox sandbox;
    const Result result = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS",
                                              "-DEBUG_CONSOLE", "-SIMULATE_DEVICES=-,-", "my files/tp.dfu"});
    EXPECT_EQ(result.ExitCode, 1) << Describe(result);
    const std::string expected =
        "Processor: firmware file " + (std::filesystem::current_path() / "my files" / "tp.dfu").string() + ": ";
    EXPECT_TRUE(Contains(result.StandardError, expected)) << "no \"" << expected << "\" in:\n" << result.StandardError;
}

} // namespace
