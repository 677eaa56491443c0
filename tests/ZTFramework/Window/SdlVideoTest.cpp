// What SDL's start leaves in the process environment: the compose file the window's input method
// reads, and the session bus address where no bus can be reached, are set for that start only,
// never over the user's own, and are gone again afterwards, so that programs the window starts
// (the file chooser) get the user's environment.

#include "ZTFramework/Window/SdlVideo.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr const char* kComposeFile = "XCOMPOSEFILE";
// The class name the window suites use, so that this test leaves them the same environment.
constexpr const char* kWindowClass = "ZT_WindowTests";

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string("\"") + value + "\"" : std::string("(unset)");
}

std::string ComposeFile()
{
    return Variable(kComposeFile);
}

// Sets a variable for one test and gives the old value back at its end.
class CScopedVariable {
public:
    CScopedVariable(const char* name, const char* value) : mName(name)
    {
        if (const char* old = std::getenv(name))
            mOld = old;
        if (value)
            (void)::setenv(name, value, 1);
        else
            (void)::unsetenv(name);
    }
    ~CScopedVariable()
    {
        if (mOld)
            (void)::setenv(mName, mOld->c_str(), 1);
        else
            (void)::unsetenv(mName);
    }
    CScopedVariable(const CScopedVariable&) = delete;
    CScopedVariable& operator=(const CScopedVariable&) = delete;

private:
    const char* mName;
    std::optional<std::string> mOld;
};

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

TEST(SdlVideo, WithoutASessionBusSdlsStartIsToldThereIsNoneAndAReachableBusIsLeftAlone)
{
    constexpr const char* kBusAddress = "DBUS_SESSION_BUS_ADDRESS";
    const ZT::Testing::TempFolder runtime("zt-sdl-runtime");
    const CScopedVariable runtimeFolder("XDG_RUNTIME_DIR", runtime.Path().c_str());
    const CScopedVariable busAddress(kBusAddress, nullptr);

    ZT::CSdlVideo::PrepareEnvironment(kWindowClass);
    EXPECT_EQ(Variable(kBusAddress), "\"disabled:\"") << "no bus, yet libdbus may still try to launch one";
    ZT::CSdlVideo::RestoreEnvironment();
    EXPECT_EQ(Variable(kBusAddress), "(unset)") << "the disabled bus address outlived SDL's start";

    // A user session's bus: its socket in the runtime folder.
    const std::string socketPath = (runtime.Path() / "bus").string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0) << std::strerror(errno);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    ZT::CSdlVideo::PrepareEnvironment(kWindowClass);
    EXPECT_EQ(Variable(kBusAddress), "(unset)") << "the session's bus at " << socketPath << " was hidden from SDL";
    ZT::CSdlVideo::RestoreEnvironment();
    ::close(listener);

    const CScopedVariable userBus(kBusAddress, "unix:path=/run/user/1000/bus");
    ZT::CSdlVideo::PrepareEnvironment(kWindowClass);
    EXPECT_EQ(Variable(kBusAddress), "\"unix:path=/run/user/1000/bus\"") << "the user's bus address was replaced";
    ZT::CSdlVideo::RestoreEnvironment();
    EXPECT_EQ(Variable(kBusAddress), "\"unix:path=/run/user/1000/bus\"") << "the user's bus address was removed";
}

} // namespace
