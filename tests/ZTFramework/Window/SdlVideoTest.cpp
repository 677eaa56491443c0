// What SDL's start leaves in the process environment: the compose file the window's input method
// reads is set for that start only, never over the user's own, and is gone again afterwards, so
// that programs the window starts (the file chooser) get the user's environment.

#include "ZTFramework/Window/SdlVideo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr const char* kComposeFile = "XCOMPOSEFILE";
// The class name the window suites use, so that this test leaves them the same environment.
constexpr const char* kWindowClass = "ZT_WindowTests";

std::string ComposeFile()
{
    const char* value = std::getenv(kComposeFile);
    return value ? std::string("\"") + value + "\"" : std::string("(unset)");
}

TEST(SdlVideo, TheComposeFileIsSetForSdlsStartOnlyAndTheUsersOwnIsKept)
{
    ASSERT_EQ(::unsetenv(kComposeFile), 0);
    ZT::CSdlVideo::PrepareEnvironment(kWindowClass);
    EXPECT_EQ(ComposeFile(), "\"/dev/null\"") << "SDL's input method should get an empty compose table";
    ZT::CSdlVideo::RestoreEnvironment();
    EXPECT_EQ(ComposeFile(), "(unset)") << "the empty compose table outlived SDL's start";
    ZT::CSdlVideo::RestoreEnvironment();
    EXPECT_EQ(ComposeFile(), "(unset)") << "a second restore changed the environment";

    ASSERT_EQ(::setenv(kComposeFile, "/home/dj/.XCompose", 1), 0);
    ZT::CSdlVideo::PrepareEnvironment(kWindowClass);
    EXPECT_EQ(ComposeFile(), "\"/home/dj/.XCompose\"") << "the user's own compose file was replaced";
    ZT::CSdlVideo::RestoreEnvironment();
    EXPECT_EQ(ComposeFile(), "\"/home/dj/.XCompose\"") << "the user's own compose file was removed";

    // SDL started without PrepareEnvironment gives the variable back by itself.
    ASSERT_EQ(::unsetenv(kComposeFile), 0);
    if (ZT::CSdlVideo::EnvironmentNamesDisplay()) {
        const ZT::CSdlVideo video(kWindowClass);
        EXPECT_TRUE(video.IsReady()) << video.GetError();
        EXPECT_EQ(ComposeFile(), "(unset)") << "SDL's start left the empty compose table set";
    }
}

} // namespace
