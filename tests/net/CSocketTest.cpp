#include "net/CSocket.h"

#include "net/LoopDriver.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

// Records the events of one socket in the order they came; data is read as it arrives.
struct EventLog {
    std::vector<std::string> Events;
    std::string Received;
    // Set when Closed came: what had been received by then.
    std::string ReceivedAtClose;

    void Wire(CSocket& Socket)
    {
        Socket.OnConnected = [this] { Events.push_back("Connected"); };
        Socket.OnSendComplete = [this] { Events.push_back("SendComplete"); };
        Socket.OnConnectionRequest = [this] { Events.push_back("Request"); };
        Socket.OnError = [this](int Number, const std::string& Description) {
            Events.push_back("Error " + std::to_string(Number) + " " + Description);
        };
        Socket.OnClosed = [this] {
            Events.push_back("Closed");
            ReceivedAtClose = Received;
        };
        Socket.OnDataArrival = [this, &Socket] {
            std::string piece;
            while (Socket.Recive(piece) > 0)
                Received += piece;
        };
    }
    int Count(const std::string& Event) const
    {
        int count = 0;
        for (const std::string& e : Events)
            count += e == Event ? 1 : 0;
        return count;
    }
};

void ListenOnLoopback(CSocket& Listener)
{
    Listener.LocalAddress = "127.0.0.1";
    Listener.LocalPort = 0;
    Listener.Listen();
    ASSERT_EQ(Listener.State, SockState::Listening);
    ASSERT_NE(Listener.LocalPort, 0);
}

// A connected pair over loopback: Client connected out, Server accepted from a listener. The
// logs are wired and hold the events of the setup.
struct LoopbackPair {
    CSocket Listener;
    CSocket Client;
    CSocket Server;
    EventLog ClientLog;
    EventLog ServerLog;

    void Open()
    {
        ListenOnLoopback(Listener);
        Listener.OnConnectionRequest = [this] { Server.Accept(Listener); };
        ClientLog.Wire(Client);
        ServerLog.Wire(Server);
        Client.Connect("127.0.0.1", Listener.LocalPort);
        ASSERT_TRUE(RunLoopUntil([&] {
            return Client.State == SockState::Connected && Server.State == SockState::Connected &&
                   ClientLog.Count("SendComplete") == 1 && ServerLog.Count("SendComplete") == 1;
        }));
    }
};

std::size_t Unread(const CSocket& Socket)
{
    int count = 0;
    if (ioctl(Socket.SocketHandle, FIONREAD, &count) != 0) return 0;
    return static_cast<std::size_t>(count);
}

TEST(CSocket, ListenOnBusyPortStaysClosedQuietly)
{
    CSocket first;
    ListenOnLoopback(first);
    CSocket second;
    EventLog log;
    log.Wire(second);
    second.LocalAddress = "127.0.0.1";
    second.LocalPort = first.LocalPort;
    second.Listen();
    EXPECT_EQ(second.State, SockState::Closed);
    EXPECT_EQ(second.SocketHandle, 0);
    RunLoopFor(30);
    EXPECT_TRUE(log.Events.empty());
}

TEST(CSocket, ListenOnUnknownLocalAddressFails)
{
    CSocket listener;
    listener.LocalAddress = "not an address";
    listener.Listen();
    EXPECT_EQ(listener.State, SockState::Closed);
    EXPECT_EQ(listener.SocketHandle, 0);
}

TEST(CSocket, ConnectAndAcceptRaiseTheirEventsInOrder)
{
    LoopbackPair pair;
    pair.Open();
    // Connected comes before the first SendComplete; the accepted side gets its SendComplete alone.
    EXPECT_EQ(pair.ClientLog.Events, (std::vector<std::string>{"Connected", "SendComplete"}));
    EXPECT_EQ(pair.ServerLog.Events, (std::vector<std::string>{"SendComplete"}));
    EXPECT_EQ(pair.Client.RemoteHost, "127.0.0.1");
    EXPECT_EQ(pair.Client.RemotePort, pair.Listener.LocalPort);
    EXPECT_EQ(pair.Server.RemoteHost, "127.0.0.1");
    EXPECT_NE(pair.Server.RemotePort, 0);
    EXPECT_EQ(pair.Listener.State, SockState::Listening); // goes on listening for the next one
}

TEST(CSocket, BytesPassUnchangedBothWays)
{
    LoopbackPair pair;
    pair.Open();
    const std::string toServer("NICK \xC4rger\0\xFF\r\n", 14);
    const std::string toClient = ":server 001 \xE4\r\n";
    EXPECT_EQ(pair.Client.SendData(toServer), static_cast<long>(toServer.size()));
    EXPECT_EQ(pair.Server.SendData(toClient), static_cast<long>(toClient.size()));
    ASSERT_TRUE(RunLoopUntil([&] {
        return pair.ServerLog.Received.size() == toServer.size() &&
               pair.ClientLog.Received.size() == toClient.size();
    }));
    EXPECT_EQ(pair.ServerLog.Received, toServer);
    EXPECT_EQ(pair.ClientLog.Received, toClient);
    // A send that went through in full asks for no SendComplete.
    RunLoopFor(20);
    EXPECT_EQ(pair.ClientLog.Count("SendComplete"), 1);
}

TEST(CSocket, PeerCloseRaisesClosedOnceAfterItsData)
{
    LoopbackPair pair;
    pair.Open();
    ASSERT_EQ(pair.Server.SendData("last words\r\n"), 12);
    pair.Server.Disconnect();
    ASSERT_TRUE(RunLoopUntil([&] { return pair.ClientLog.Count("Closed") == 1; }));
    EXPECT_EQ(pair.ClientLog.ReceivedAtClose, "last words\r\n");
    EXPECT_EQ(pair.Client.State, SockState::Closed);
    EXPECT_EQ(pair.Client.SocketHandle, 0);
    EXPECT_EQ(pair.Client.SendData("anyone?"), 0);
    RunLoopFor(30);
    EXPECT_EQ(pair.ClientLog.Count("Closed"), 1);
}

TEST(CSocket, ResetConnectionRaisesClosed)
{
    LoopbackPair pair;
    pair.Open();
    // The outgoing socket lingers 0 seconds, so closing it resets the connection.
    pair.Client.Disconnect();
    ASSERT_TRUE(RunLoopUntil([&] { return pair.ServerLog.Count("Closed") == 1; }));
    EXPECT_EQ(pair.Server.State, SockState::Closed);
    EXPECT_EQ(pair.Server.SocketHandle, 0);
    EXPECT_EQ(pair.ClientLog.Count("Closed"), 0); // Disconnect raises nothing
}

TEST(CSocket, OwnerThatStopsReadingStillGetsClosed)
{
    LoopbackPair pair;
    pair.Open();
    int offers = 0;
    pair.Client.OnDataArrival = [&] { ++offers; }; // never reads
    ASSERT_EQ(pair.Server.SendData("ignored"), 7);
    pair.Server.Disconnect();
    ASSERT_TRUE(RunLoopUntil([&] { return pair.ClientLog.Count("Closed") == 1; }));
    EXPECT_GE(offers, 1);
    EXPECT_EQ(pair.Client.SocketHandle, 0);
}

TEST(CSocket, ReciveTakesAtMost1024Bytes)
{
    LoopbackPair pair;
    pair.Open();
    pair.Server.OnDataArrival = nullptr; // leave the bytes waiting
    ASSERT_EQ(pair.Client.SendData(std::string(1500, 'a')), 1500);
    ASSERT_TRUE(RunLoopUntil([&] { return Unread(pair.Server) >= 1500; }));
    std::string buf;
    EXPECT_EQ(pair.Server.Recive(buf), 1024);
    EXPECT_EQ(buf.size(), 1024u);
    EXPECT_EQ(pair.Server.Recive(buf), 476);
    EXPECT_EQ(buf, std::string(476, 'a'));
    EXPECT_EQ(pair.Server.Recive(buf), 0);
    EXPECT_EQ(buf.size(), 1024u); // nothing read: the buffer keeps its full size
}

TEST(CSocket, NothingToSendOrNoSocketSendsNothing)
{
    CSocket idle;
    EXPECT_EQ(idle.SendData("text"), 0);
    std::string buf;
    EXPECT_EQ(idle.Recive(buf), 0);
    LoopbackPair pair;
    pair.Open();
    EXPECT_EQ(pair.Client.SendData(""), 0);
}

TEST(CSocket, ConnectToRefusedPortRaisesError)
{
    long freePort = 0;
    {
        CSocket probe; // a port that was just free and has nobody listening now
        ListenOnLoopback(probe);
        freePort = probe.LocalPort;
    }
    CSocket client;
    EventLog log;
    log.Wire(client);
    client.Connect("127.0.0.1", freePort);
    EXPECT_TRUE(log.Events.empty()); // the outcome comes from the loop, never from inside Connect
    ASSERT_TRUE(RunLoopUntil([&] { return !log.Events.empty(); }));
    RunLoopFor(20);
    EXPECT_EQ(log.Events, (std::vector<std::string>{"Error 0 Connection refused."}));
    EXPECT_EQ(client.State, SockState::Closed);
    EXPECT_EQ(client.SocketHandle, 0);
}

TEST(CSocket, ConnectToUnresolvableHostEndsQuietly)
{
    CSocket client;
    EventLog log;
    log.Wire(client);
    client.Connect("no-such-host.invalid", 6667);
    EXPECT_EQ(client.State, SockState::Closed);
    EXPECT_EQ(client.SocketHandle, 0);
    RunLoopFor(30);
    EXPECT_TRUE(log.Events.empty());
}

TEST(CSocket, ConnectAgainDropsTheOldConnection)
{
    LoopbackPair pair;
    pair.Open();
    CSocket second;
    pair.Listener.OnConnectionRequest = [&] { second.Accept(pair.Listener); };
    pair.Client.Connect("127.0.0.1", pair.Listener.LocalPort);
    ASSERT_TRUE(RunLoopUntil([&] {
        return pair.ServerLog.Count("Closed") == 1 && second.State == SockState::Connected &&
               pair.ClientLog.Count("Connected") == 2;
    }));
}

TEST(CSocket, FullSocketRaisesSendCompleteOnceDrained)
{
    LoopbackPair pair;
    pair.Open();
    pair.Server.OnDataArrival = nullptr; // nobody reads until the sender is stuck
    const std::string block(1 << 20, 'z');
    long accepted = 0;
    for (int i = 0; i < 64; ++i) {
        accepted = pair.Client.SendData(block);
        if (accepted != static_cast<long>(block.size())) break;
    }
    ASSERT_NE(accepted, static_cast<long>(block.size())) << "loopback took 64 MiB without pushing back";
    EXPECT_EQ(pair.ClientLog.Count("SendComplete"), 1);
    RunLoopFor(20);
    EXPECT_EQ(pair.ClientLog.Count("SendComplete"), 1); // still full: nothing yet
    pair.ServerLog.Wire(pair.Server);
    ASSERT_TRUE(RunLoopUntil([&] { return pair.ClientLog.Count("SendComplete") == 2; }));
    RunLoopFor(20);
    EXPECT_EQ(pair.ClientLog.Count("SendComplete"), 2); // once per refusal, not while writable
}

TEST(CSocket, DataHandlerMayDestroyItsSocket)
{
    CSocket listener;
    ListenOnLoopback(listener);
    CSocket accepted;
    listener.OnConnectionRequest = [&] { accepted.Accept(listener); };
    auto client = std::make_unique<CSocket>();
    int closedEvents = 0;
    client->OnClosed = [&] { ++closedEvents; };
    client->OnDataArrival = [&] { client.reset(); };
    client->Connect("127.0.0.1", listener.LocalPort);
    ASSERT_TRUE(RunLoopUntil([&] { return accepted.State == SockState::Connected; }));
    // Data and the close usually come in one pass; the handler destroys the socket at the data.
    ASSERT_EQ(accepted.SendData("bye"), 3);
    accepted.Disconnect();
    ASSERT_TRUE(RunLoopUntil([&] { return client == nullptr; }));
    RunLoopFor(20);
    EXPECT_EQ(closedEvents, 0);
}

TEST(CSocket, ClosedHandlerMayDisconnect)
{
    LoopbackPair pair;
    pair.Open();
    pair.Client.OnClosed = [&] {
        pair.ClientLog.Events.push_back("Closed");
        pair.Client.Disconnect();
    };
    pair.Server.Disconnect();
    ASSERT_TRUE(RunLoopUntil([&] { return pair.ClientLog.Count("Closed") == 1; }));
    EXPECT_EQ(pair.Client.SocketHandle, 0);
    EXPECT_EQ(pair.Client.State, SockState::Closed);
}

TEST(CSocket, ListenerMayAcceptIntoItself)
{
    CSocket listener;
    ListenOnLoopback(listener);
    EventLog listenerLog;
    listenerLog.Wire(listener);
    listener.OnConnectionRequest = [&] { listener.Accept(listener); };
    CSocket client;
    EventLog clientLog;
    clientLog.Wire(client);
    client.Connect("127.0.0.1", listener.LocalPort);
    ASSERT_TRUE(RunLoopUntil([&] { return listener.State == SockState::Connected; }));
    ASSERT_EQ(client.SendData("hi"), 2);
    ASSERT_TRUE(RunLoopUntil([&] { return listenerLog.Received == "hi"; }));
    EXPECT_EQ(listener.RemoteHost, "127.0.0.1");
}

} // namespace
