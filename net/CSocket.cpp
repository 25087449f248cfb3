#include "net/CSocket.h"

#include "net/SocketModule.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace
{

// The server takes many users at once; a backlog of 5 would refuse a burst of reconnecting
// clients after a network hiccup before the loop gets round to accepting them.
constexpr int ListenBacklog = 128;
constexpr std::size_t ReceiveChunk = 1024;

void ReportSystemError(const char* Operation)
{
    EventLoop::Get().Report(std::string("ERROR ") + Operation + " " + std::strerror(errno));
}

// Connect failures the peer or the network answered: these are the outcome of the connection,
// which the owner hears of through OnError, not a step that could not be started.
bool IsConnectOutcome(int Errno)
{
    return Errno == ECONNREFUSED || Errno == ENETUNREACH || Errno == EHOSTUNREACH || Errno == ETIMEDOUT ||
           Errno == ECONNRESET;
}

} // namespace

// The guard lives on the stack of an event handler and unlinks itself in its destructor, so the
// socket never keeps its address past its life; GCC cannot see the pairing in optimised builds.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
CSocket::LifeGuard::LifeGuard(CSocket& Socket) : Owner(&Socket), Outer(Socket.Guards)
{
    Socket.Guards = this;
}
#pragma GCC diagnostic pop

CSocket::LifeGuard::~LifeGuard()
{
    if (Alive) Owner->Guards = Outer;
}

CSocket::~CSocket()
{
    Disconnect();
    for (LifeGuard* guard = Guards; guard != nullptr; guard = guard->Outer)
        guard->Alive = false;
}

std::uint32_t CSocket::WatchedEvents() const
{
    if (State == SockState::Listening) return EPOLLIN;
    return EPOLLIN | EPOLLRDHUP | (WriteWatched ? EPOLLOUT : 0u);
}

bool CSocket::Watch(std::uint32_t Events)
{
    return EventLoop::Get().Add(SocketHandle, this, Events);
}

void CSocket::WantWrite(bool On)
{
    if (WriteWatched == On || SocketHandle == 0) return;
    WriteWatched = On;
    EventLoop::Get().Modify(SocketHandle, WatchedEvents());
}

void CSocket::Disconnect()
{
    if (SocketHandle != 0) {
        EventLoop::Get().Remove(SocketHandle);
        if (close(SocketHandle) != 0) ReportSystemError("CSocket close");
    }
    SocketHandle = 0;
    State = SockState::Closed;
    WriteWatched = false;
    PeerClosed = false;
    ConnectErrno = 0;
    ++Session;
}

void CSocket::Connect(std::string_view HOST, long Port)
{
    if (SocketHandle != 0) Disconnect();
    State = SockState::Connecting;
    if (Port < 0 || Port > 65535) {
        Disconnect();
        return;
    }
    // A blocking lookup: only the mail relay is reached by name, and rarely.
    const std::int64_t address = GetHostAddress(HOST);
    if (address == -1) {
        Disconnect();
        return;
    }
    if (!OpenSocket()) return;
    const int fd = SocketHandle;
    // Closing resets the connection at once instead of lingering over unsent data.
    if (SetLinger(fd, 1, 0) != 0) {
        Disconnect();
        return;
    }
    // Writability tells us the connect has finished, one way or the other.
    WriteWatched = true;
    if (!Watch(WatchedEvents())) {
        Disconnect();
        return;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(Port));
    target.sin_addr.s_addr = htonl(static_cast<std::uint32_t>(address));
    if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return;
    if (errno == EINPROGRESS) return;
    if (IsConnectOutcome(errno)) {
        // Loopback answers at once; the owner must still hear of it from the loop, as it would
        // for a distant host. The dead socket reports a hang-up, which finishes the connect.
        ConnectErrno = errno;
        return;
    }
    Disconnect();
}

bool CSocket::OpenSocket()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        ReportSystemError("CSocket socket");
        Disconnect();
        return false;
    }
    SocketHandle = fd;
    return true;
}

void CSocket::Listen()
{
    if (SocketHandle != 0) Disconnect();
    RemoteHost.clear();
    RemotePort = 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(LocalPort));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (LocalPort < 0 || LocalPort > 65535) {
        Disconnect();
        return;
    }
    if (!LocalAddress.empty() && inet_pton(AF_INET, LocalAddress.c_str(), &local.sin_addr) != 1) {
        Disconnect();
        return;
    }

    if (!OpenSocket()) return;
    const int fd = SocketHandle;
    // A restarted server can take its port again while old connections sit in TIME_WAIT.
    const int reuse = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        listen(fd, ListenBacklog) != 0) {
        Disconnect(); // a busy port is expected: the caller tries the next one
        return;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) LocalPort = ntohs(bound.sin_port);
    State = SockState::Listening;
    if (!Watch(WatchedEvents())) Disconnect();
}

void CSocket::Accept(CSocket& Server)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(Server.SocketHandle, reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        // The client may have given up before we got to it; the owner goes on, and this object
        // simply has no socket.
        ReportSystemError("CSocket accept");
        if (this != &Server) Disconnect();
        return;
    }
    // The listener turns into the connection, or a reused object drops what it still held.
    if (SocketHandle != 0) Disconnect();
    SocketHandle = fd;
    State = SockState::Connected;
    // Replies are written line by line; without this, Nagle's algorithm holds every second
    // line of a reply until the client's delayed acknowledgement, some 40 ms later.
    const int noDelay = 1;
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) != 0)
        ReportSystemError("CSocket setsockopt TCP_NODELAY");
    char text[INET_ADDRSTRLEN] = {};
    RemoteHost = inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) != nullptr ? text : "";
    RemotePort = ntohs(peer.sin_port);
    // Watching writability once gives the owner its first OnSendComplete from the loop.
    WriteWatched = true;
    if (!Watch(WatchedEvents())) Disconnect();
}

long CSocket::SendData(std::string_view Data)
{
    if (SocketHandle == 0 || Data.empty()) return 0;
    const ssize_t sent = send(SocketHandle, Data.data(), Data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        // Full now: OnSendComplete tells the owner when to try again. A broken connection shows
        // up as a hang-up instead.
        if (errno == EAGAIN || errno == EWOULDBLOCK) WantWrite(true);
        return -1;
    }
    if (static_cast<std::size_t>(sent) < Data.size()) WantWrite(true);
    return static_cast<long>(sent);
}

long CSocket::Recive(std::string& buf)
{
    buf.assign(ReceiveChunk, '\0');
    if (SocketHandle == 0) return 0;
    const ssize_t got = recv(SocketHandle, buf.data(), ReceiveChunk, MSG_DONTWAIT);
    if (got <= 0) {
        if (got == 0) PeerClosed = true;
        return 0;
    }
    buf.resize(static_cast<std::size_t>(got));
    BytesRead += static_cast<std::uint64_t>(got);
    return static_cast<long>(got);
}

std::size_t CSocket::UnreadBytes() const
{
    int count = 0;
    if (SocketHandle == 0 || ioctl(SocketHandle, FIONREAD, &count) != 0 || count < 0) return 0;
    return static_cast<std::size_t>(count);
}

void CSocket::OnReady(std::uint32_t Events)
{
    if (SocketHandle == 0) return;
    if (State == SockState::Listening) {
        if ((Events & EPOLLIN) != 0 && OnConnectionRequest) OnConnectionRequest();
        return;
    }
    if (State == SockState::Connecting) {
        FinishConnect(Events);
        return;
    }
    LifeGuard guard(*this);
    const std::uint64_t session = Session;
    if ((Events & EPOLLOUT) != 0 && WriteWatched) {
        WantWrite(false);
        if (OnSendComplete) OnSendComplete();
        if (!guard.Alive || Session != session) return;
    }
    OfferDataAndClose(Events);
}

void CSocket::FinishConnect(std::uint32_t Events)
{
    int error = ConnectErrno;
    if (error == 0) {
        socklen_t length = sizeof error;
        if (getsockopt(SocketHandle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    }
    if (error == 0 && (Events & (EPOLLERR | EPOLLHUP)) != 0) error = ENOTCONN;
    if (error == 0 && (Events & EPOLLOUT) == 0) return; // still on its way
    if (error != 0) {
        Disconnect();
        if (OnError) OnError(0, GetErrorText(MapErrno(error)));
        return;
    }
    LifeGuard guard(*this);
    const std::uint64_t session = Session;
    State = SockState::Connected;
    RemoteHost = GetPeerAddress(SocketHandle);
    RemotePort = GetPeerPort(SocketHandle);
    WantWrite(false);
    if (OnConnected) OnConnected();
    if (!guard.Alive || Session != session) return;
    if (OnSendComplete) OnSendComplete();
    if (!guard.Alive || Session != session) return;
    OfferDataAndClose(Events);
}

void CSocket::OfferDataAndClose(std::uint32_t Events)
{
    LifeGuard guard(*this);
    const std::uint64_t session = Session;
    auto gone = [&] { return !guard.Alive || Session != session; };

    if (UnreadBytes() > 0 && OnDataArrival) {
        OnDataArrival();
        if (gone()) return;
    }
    const bool hangUp = PeerClosed || (Events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
    if (!hangUp) return;
    // The peer is gone: what it sent before leaving is still offered while the owner keeps
    // reading it, so a closing line is not lost. An owner that stops reading gets the close.
    while (UnreadBytes() > 0 && OnDataArrival) {
        const std::uint64_t before = BytesRead;
        OnDataArrival();
        if (gone()) return;
        if (BytesRead == before) break;
    }
    State = SockState::Closed;
    if (OnClosed) OnClosed();
    if (gone()) return; // the owner disconnected or reused it already
    Disconnect();
}
