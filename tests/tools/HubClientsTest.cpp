#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "xap-hub/HubClients.h"
#include "xap-hub/OwnAddresses.h"

namespace {

XapHeader heartbeat(int port, const std::string& cls = "xap-hbeat.alive", int interval = 60) {
    XapHeader h;
    h.name = "xap-hbeat";
    h.msgClass = cls;
    h.source = "acme.box." + std::to_string(port);
    h.port = port;
    h.interval = interval;
    return h;
}

using Change = HubClients::Change;

TEST(HubClients, RelaysToEveryClientOnceButNeverBackToItsSender) {
    HubClients clients(3639);
    // The gateway on loopback sends from another port than it announces.
    EXPECT_EQ(clients.heartbeat(heartbeat(32768), 41000, 0), Change::Added);
    EXPECT_EQ(clients.heartbeat(heartbeat(40000), 40000, 0), Change::Added);
    EXPECT_EQ(clients.heartbeat(heartbeat(32768), 41000, 10), Change::Refreshed);
    EXPECT_EQ(clients.size(), 2u);

    EXPECT_EQ(clients.targets(true, 41000), std::vector<int>{40000});
    EXPECT_EQ(clients.targets(true, 32768), std::vector<int>{40000});
    EXPECT_EQ(clients.targets(true, 40000), std::vector<int>{32768});
    EXPECT_EQ(clients.targets(true, 50000), (std::vector<int>{32768, 40000}));
    // From another computer a matching port says nothing about the sender.
    EXPECT_EQ(clients.targets(false, 40000), (std::vector<int>{32768, 40000}));
}

TEST(HubClients, StopsAndExpiresClients) {
    HubClients clients(3639);
    EXPECT_FALSE(clients.nextExpiryMs());
    clients.heartbeat(heartbeat(40001, "xap-hbeat.alive", 1), 40001, 0);
    clients.heartbeat(heartbeat(40002, "xap-hbeat.alive", 600), 40002, 0);
    clients.heartbeat(heartbeat(40003), 40003, 0);
    clients.heartbeat(heartbeat(40004), 40004, 0);

    EXPECT_EQ(clients.heartbeat(heartbeat(40003, "XAP-HBEAT.STOPPED"), 40003, 5), Change::Removed);
    // Without a port item, the sender's port names the client.
    int removed = 0;
    EXPECT_EQ(clients.heartbeat(heartbeat(0, "xap-hbeat.stop"), 40004, 5, &removed),
              Change::Removed);
    EXPECT_EQ(removed, 40004);
    EXPECT_EQ(clients.heartbeat(heartbeat(40003, "xap-hbeat.stop"), 40003, 5), Change::None);

    EXPECT_EQ(clients.nextExpiryMs(), 2000);
    EXPECT_TRUE(clients.expire(1999).empty());
    const auto gone = clients.expire(2000);  // twice the 1 s interval
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].port, 40001);
    EXPECT_EQ(gone[0].source, "acme.box.40001");
    EXPECT_EQ(clients.nextExpiryMs(), 1'200'000);
    // A heartbeat restarts the count.
    clients.heartbeat(heartbeat(40002, "xap-hbeat.alive", 600), 40002, 1'000'000);
    EXPECT_TRUE(clients.expire(2'199'999).empty());
    EXPECT_EQ(clients.expire(2'200'000).size(), 1u);
    EXPECT_EQ(clients.size(), 0u);
    EXPECT_FALSE(clients.nextExpiryMs());
}

TEST(HubClients, IgnoresHeartbeatsItCannotUse) {
    HubClients clients(3639);
    XapHeader message = heartbeat(40000);
    message.name = "xap-header";
    EXPECT_EQ(clients.heartbeat(message, 40000, 0), Change::None);
    EXPECT_EQ(clients.heartbeat(heartbeat(0), 40000, 0), Change::None);
    // Its own port would make the hub relay to itself for ever.
    EXPECT_EQ(clients.heartbeat(heartbeat(3639), 40000, 0), Change::None);
    EXPECT_EQ(clients.heartbeat(heartbeat(40000, "xap-hbeat.other"), 40000, 0), Change::None);
    EXPECT_EQ(clients.size(), 0u);

    // Missing and absurd intervals are bounded; long sources are cut.
    XapHeader odd = heartbeat(40001, "xap-hbeat.alive", 0);
    odd.source = "a\x1b[2Jb" + std::string(5000, 's');
    clients.heartbeat(odd, 40001, 0);
    clients.heartbeat(heartbeat(40002, "xap-hbeat.alive", 999'999'999), 40002, 0);
    EXPECT_EQ(clients.find(40001)->intervalS, HubClients::kDefaultIntervalS);
    EXPECT_EQ(clients.find(40001)->source.size(), HubClients::kMaxSourceKept);
    EXPECT_EQ(clients.find(40001)->source.substr(0, 6), "a?[2Jb");
    EXPECT_EQ(clients.find(40002)->intervalS, HubClients::kMaxIntervalS);
}

TEST(HubClients, HoldsAtMostTheLimitAndTakesNewOnesWhenRoomIsMade) {
    HubClients clients(3639);
    const int first = 20000;
    for (int i = 0; i < static_cast<int>(HubClients::kMaxClients); ++i)
        ASSERT_EQ(clients.heartbeat(heartbeat(first + i), first + i, 0), Change::Added);
    EXPECT_EQ(clients.heartbeat(heartbeat(30000), 30000, 0), Change::Refused);
    // Known clients still refresh when the table is full.
    EXPECT_EQ(clients.heartbeat(heartbeat(first), first, 1), Change::Refreshed);
    EXPECT_EQ(clients.size(), HubClients::kMaxClients);

    clients.heartbeat(heartbeat(first + 1, "xap-hbeat.stopped"), first + 1, 2);
    EXPECT_EQ(clients.heartbeat(heartbeat(30000), 30000, 3), Change::Added);
}

// Loopback in either family is always this computer's, whatever the
// interfaces say; an address from elsewhere is not, nor a non-IP one.
TEST(OwnAddresses, KnowsLoopbackInBothFamiliesAndNothingElse) {
    const auto address = [](const char* text) {
        sockaddr_storage a{};
        if (inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in&>(a).sin_addr) == 1)
            a.ss_family = AF_INET;
        else if (inet_pton(AF_INET6, text, &reinterpret_cast<sockaddr_in6&>(a).sin6_addr) == 1)
            a.ss_family = AF_INET6;
        return a;
    };
    OwnAddresses own;
    for (const char* mine : {"127.0.0.1", "127.1.2.3", "::1", "::ffff:127.0.0.1"})
        EXPECT_TRUE(own.contains(address(mine), 0)) << mine;
    for (const char* other : {"192.0.2.20", "::ffff:192.0.2.20", "2001:db8::1", "::"})
        EXPECT_FALSE(own.contains(address(other), 0)) << other;
    sockaddr_storage local{};
    local.ss_family = AF_UNIX;
    EXPECT_FALSE(own.contains(local, 0));
}

}  // namespace
