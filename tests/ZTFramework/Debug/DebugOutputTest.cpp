#include "ZTFramework/Debug/DebugOutput.h"

#include "ZTFramework/Debug/DebugLine.h"
#include "tests/ZTFramework/Debug/UdpListener.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ZT {
namespace {

// Stands in for the system log and restores the process-wide output after each test.
class DebugOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DebugOutput::Instance().SetTarget("", -1);
        DebugOutput::Instance().SetSystemLogWriter([this](std::string_view text) {
            std::lock_guard lock(mMutex);
            mSystemLog.emplace_back(text);
        });
    }
    void TearDown() override
    {
        DebugOutput::Instance().SetSystemLogWriter(nullptr);
        DebugOutput::Instance().UseDebugStreams();
        DebugOutput::Instance().SetTarget("", -1);
    }
    std::vector<std::string> SystemLog()
    {
        std::lock_guard lock(mMutex);
        return mSystemLog;
    }

    std::mutex mMutex;
    std::vector<std::string> mSystemLog; // guarded by mMutex
};

TEST_F(DebugOutputTest, TextLeavesOnlyWhenFlushedAndEachFlushSendsWhatCameSinceTheLast)
{
    std::ostream& stream = DebugOutput::Narrow();
    stream << "scan " << 3;
    EXPECT_TRUE(SystemLog().empty());
    stream << " devices" << std::flush;
    stream << "next" << std::endl;
    stream.flush(); // nothing new: no empty entry
    EXPECT_EQ(SystemLog(), (std::vector<std::string>{"scan 3 devices", "next\n"}));
}

TEST_F(DebugOutputTest, WideTextReachesTheSystemLogAsUTF8UpToItsFirstNulAlsoInsideADebugLine)
{
    DebugOutput::Wide() << L"Gerät " << 5 << std::flush;
    DebugOutput::Wide() << std::wstring(L"kept\0dropped", 12) << std::flush;
    CDebugLine() << "device " << L"\"XR4000 Wärme\"" << ' ' << 0x10 << std::wstring(L" ok");
    EXPECT_EQ(SystemLog(), (std::vector<std::string>{"Gerät 5", "kept", "device \"XR4000 Wärme\" 16 ok\n"}));
}

TEST_F(DebugOutputTest, DebugLinesFromManyThreadsArriveWhole)
{
    constexpr int kThreads = 4;
    constexpr int kLines = 50;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([thread] {
            for (int line = 0; line < kLines; ++line) {
                if (line % 2 == 0)
                    CDebugLine() << "thread " << thread << " line " << line;
                else
                    DebugLine(L"thread " + std::to_wstring(thread) + L" line " + std::to_wstring(line));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    const std::vector<std::string> log = SystemLog();
    ASSERT_EQ(log.size(), static_cast<std::size_t>(kThreads * kLines));
    std::vector<int> nextLine(kThreads, 0);
    for (const std::string& entry : log) {
        int thread = -1;
        int line = -1;
        ASSERT_EQ(std::sscanf(entry.c_str(), "thread %d line %d", &thread, &line), 2) << entry;
        ASSERT_GE(thread, 0);
        ASSERT_LT(thread, kThreads);
        EXPECT_EQ(entry, "thread " + std::to_string(thread) + " line " + std::to_string(line) + "\n");
        EXPECT_EQ(line, nextLine[thread]++) << "lines of one thread keep their order";
    }
}

TEST_F(DebugOutputTest, OpenConsoleWritesBothStreamsToStandardErrorAndNotTheSystemLog)
{
    DebugOutput::Instance().OpenConsole();
    ::testing::internal::CaptureStderr();
    DebugLine("narrow line");
    DebugLine(L"breite Zeile ü");
    const std::string captured = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(captured, "narrow line\nbreite Zeile ü\n");
    EXPECT_TRUE(SystemLog().empty());
}

// The process's one UDP destination is fixed by its first datagram, so only this test sends
// through the process-wide output.
TEST_F(DebugOutputTest, UdpListenerGetsTheLaunchBannerInThreeDatagramsThenEachFlushedText)
{
    Testing::CUdpListener listener;
    ASSERT_NE(listener.Port(), 0);
    DebugOutput::Instance().SetTarget("127.0.0.1", listener.Port());

    DebugLine("first line");
    DebugOutput::Wide() << L"zweite Zeile ü" << std::flush;
    DebugOutput::Narrow() << std::flush; // an empty flush sends nothing
    DebugLine("third");

    EXPECT_TRUE(listener.ReceiveBanner("127.0.0.1"));
    EXPECT_EQ(listener.Receive(), "first line\n");
    EXPECT_EQ(listener.Receive(), "zweite Zeile ü");
    EXPECT_EQ(listener.Receive(), "third\n");
    EXPECT_TRUE(SystemLog().empty());

    // Back below port 1, text goes to the system log again.
    DebugOutput::Instance().SetTarget(nullptr, 0);
    DebugLine("local again");
    EXPECT_EQ(SystemLog(), (std::vector<std::string>{"local again\n"}));
}

} // namespace
} // namespace ZT
