#include "ZTFramework/Debug/UdpDebugSender.h"

#include "tests/ZTFramework/Debug/UdpListener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

namespace ZT {
namespace {

TEST(UdpDebugSender, BannerGoesOutOnceAndTheFirstDestinationStays)
{
    Testing::CUdpListener listener;
    Testing::CUdpListener other;
    ASSERT_NE(listener.Port(), 0);
    ASSERT_NE(other.Port(), 0);
    UdpDebugSender sender;
    EXPECT_FALSE(sender.HasSocket());

    sender.Send("127.0.0.1", listener.Port(), "one");
    sender.Send("127.0.0.1", other.Port(), "two"); // host and port are read only once
    sender.Send(nullptr, other.Port(), std::string_view("three\0hidden", 12));

    EXPECT_TRUE(sender.HasSocket());
    EXPECT_TRUE(listener.ReceiveBanner("127.0.0.1"));
    EXPECT_EQ(listener.Receive(), "one");
    EXPECT_EQ(listener.Receive(), "two");
    EXPECT_EQ(listener.Receive(), "three");
}

TEST(UdpDebugSender, EmptyFirstTextStillAnnouncesTheProcessAndHostsResolve)
{
    Testing::CUdpListener listener;
    ASSERT_NE(listener.Port(), 0);
    UdpDebugSender sender;
    sender.Send("localhost", listener.Port(), "");
    sender.Send("localhost", listener.Port(), "after");

    EXPECT_EQ(sender.GetAddressText(), "127.0.0.1") << "host names resolve to their IPv4 address";
    EXPECT_TRUE(listener.ReceiveBanner("127.0.0.1"));
    EXPECT_EQ(listener.Receive(), "after");

    // Without a host it sends to this machine, by one of its IPv4 addresses.
    UdpDebugSender local;
    local.Send(nullptr, listener.Port(), "x");
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, local.GetAddressText().c_str(), &address), 1) << local.GetAddressText();
}

} // namespace
} // namespace ZT
