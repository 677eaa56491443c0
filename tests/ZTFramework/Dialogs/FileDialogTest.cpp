// The file dialog's choice of chooser, with a session bus that cannot be reached (so the desktop
// portal is missing) and fake zenity commands on a PATH the test controls.

#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Dialogs/FileDialog.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

using ZT::IFileChooser;
using ZT::LFileDialog;
using ZT::WString;

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class FileDialogTest : public ::testing::Test {
protected:
    FileDialogTest()
    {
        mOldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        mOldBus = bus ? bus : "";
        mHadBus = bus != nullptr;
        // No bus at this address: the portal is missing whatever this machine runs.
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (mTemp.Path() / "no-bus").string()).c_str(), 1);
        setenv("PATH", mTemp.Path().string().c_str(), 1);
        ZT::DebugOutput::Instance().SetLogStreams(mNarrow, mWide);
    }
    ~FileDialogTest() override
    {
        ZT::DebugOutput::Instance().UseDebugStreams();
        setenv("PATH", mOldPath.c_str(), 1);
        if (mHadBus)
            setenv("DBUS_SESSION_BUS_ADDRESS", mOldBus.c_str(), 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    // A zenity that records its arguments, prints output and exits with status.
    void FakeZenity(const std::string& output, int status)
    {
        const std::filesystem::path script = mTemp.Path() / "zenity";
        std::ofstream out(script);
        out << "#!/bin/sh\n"
            << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << (mTemp.Path() / "args").string() << "'\n"
            << "printf '%s' '" << output << "'\n"
            << "exit " << status << "\n";
        out.close();
        chmod(script.c_str(), 0755);
    }
    std::string Arguments() const { return ReadAll(mTemp.Path() / "args"); }

    IFileChooser::Outcome Choose(WString& path)
    {
        IFileChooser::Request request;
        request.mTitle = WString(L"Select Firmware File");
        request.mFilter = WString(L"Firmware Files (*.dfu)|*.dfu|All files (*.*)|*.*");
        request.mDefaultExtension = WString(L"*.dfu");
        return mDialog.ChooseFileToOpen(request, path);
    }

    ZT::Testing::TempFolder mTemp{"zt-file-dialog-test"};
    std::string mOldPath;
    std::string mOldBus;
    bool mHadBus = false;
    std::ostringstream mNarrow;
    std::wostringstream mWide;
    LFileDialog mDialog;
};

TEST_F(FileDialogTest, WithoutThePortalZenityChoosesTheFileWithTheFirmwareFilter)
{
    FakeZenity("/home/dj/fw/update.dfu\n", 0);
    WString path(L"unchanged");
    EXPECT_EQ(ZT::ToString(Choose(path)), std::string("Chosen")) << mNarrow.str();
    EXPECT_EQ(ZT::ToString(mDialog.GetLastBackend()), std::string("Zenity"));
    EXPECT_EQ(path.ToUTF8(), "/home/dj/fw/update.dfu") << "the trailing line break must go";
    const std::string arguments = Arguments();
    EXPECT_NE(arguments.find("--file-selection\n"), std::string::npos) << arguments;
    EXPECT_NE(arguments.find("--title=Select Firmware File\n"), std::string::npos) << arguments;
    EXPECT_NE(arguments.find("--file-filter=Firmware Files (*.dfu) | *.dfu\n"), std::string::npos) << arguments;
    EXPECT_NE(arguments.find("--file-filter=All files (*.*) | *\n"), std::string::npos) << arguments;
    EXPECT_NE(mNarrow.str().find("desktop portal"), std::string::npos) << "no line says the portal is missing: "
                                                                      << mNarrow.str();
}

TEST_F(FileDialogTest, AUserWhoClosesZenityCancelsAndTheFileStays)
{
    FakeZenity("", 1);
    WString path(L"unchanged");
    EXPECT_EQ(ZT::ToString(Choose(path)), std::string("Cancelled"));
    EXPECT_EQ(ZT::ToString(mDialog.GetLastBackend()), std::string("Zenity"));
    EXPECT_EQ(path.ToUTF8(), "unchanged");
}

// The caller must be able to tell "nobody could ask" from "the user said no", to say how else to
// give a file.
TEST_F(FileDialogTest, NoChooserAtAllIsUnavailableWithADebugLine)
{
    struct Case {
        const char* what;
        bool zenity;
        int status;
    };
    for (const Case& c : {Case{"no zenity on PATH", false, 0}, Case{"zenity cannot open a display", true, 127}}) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(mTemp.Path() / "zenity");
        if (c.zenity)
            FakeZenity("/should/not/be/taken.dfu", c.status);
        mNarrow.str("");
        WString path(L"unchanged");
        EXPECT_EQ(ZT::ToString(Choose(path)), std::string("Unavailable"));
        EXPECT_EQ(ZT::ToString(mDialog.GetLastBackend()), std::string("None"));
        EXPECT_EQ(path.ToUTF8(), "unchanged");
        EXPECT_NE(mNarrow.str().find("no file chooser is available"), std::string::npos) << mNarrow.str();
    }
}

TEST(FileDialogFilter, PairsArePatternsWithTheirDescriptionsAndEveryFileIsAStar)
{
    const auto filters =
        LFileDialog::ParseFilter(WString(L"Firmware Files (*.dfu)|*.dfu; *.DFU|All files (*.*)|*.*|Dangling"));
    ASSERT_EQ(filters.size(), 2u) << "a description without a pattern must be dropped";
    EXPECT_EQ(filters[0].mDescription, "Firmware Files (*.dfu)");
    EXPECT_EQ(filters[0].mPatterns, (std::vector<std::string>{"*.dfu", "*.DFU"}));
    EXPECT_EQ(filters[1].mPatterns, std::vector<std::string>{"*"}) << "\"*.*\" would hide files without a dot";
    EXPECT_TRUE(LFileDialog::ParseFilter(WString(L"")).empty());
    EXPECT_TRUE(LFileDialog::ParseFilter(WString(L"Nothing|")).empty());
}

} // namespace
