#pragma once
// The one TCP socket type: listening socket, client connection and outgoing mail socket.
// Non-blocking IPv4 only; it moves bytes and raises events on its owner, nothing more: it
// neither queues output nor splits lines.

#include "net/EventLoop.h"

#include <functional>
#include <string>
#include <string_view>

namespace SockState
{
constexpr int Closed = 1;
constexpr int Listening = 2;
constexpr int Connecting = 3;
constexpr int Connected = 4;
} // namespace SockState

class CSocket final : public Watcher
{
public:
    CSocket() = default;
    ~CSocket() override; // Disconnect
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    int SocketHandle = 0; // 0 when none
    int State = SockState::Closed;
    long LocalPort = 0;
    std::string RemoteHost; // peer address, dotted decimal
    long RemotePort = 0;
    // Address Listen binds; empty means all local addresses.
    std::string LocalAddress;

    // Events. The owner wires them to its handlers (wins_Closed, WinS_DataArrival, ...).
    std::function<void()> OnConnected;
    std::function<void()> OnClosed;       // peer closed or connection broke; raised once
    std::function<void()> OnSendComplete; // can take data again; also once after accept/connect
    std::function<void()> OnDataArrival;
    std::function<void(int, const std::string&)> OnError; // outgoing connection failed
    std::function<void()> OnConnectionRequest;            // listening socket has a pending connection

    // Starts a non-blocking connect; failures at any synchronous step end quietly with State 1.
    void Connect(std::string_view HOST, long Port);
    // Listens on LocalPort (address reuse); failure leaves State 1, no event. LocalPort 0 takes a
    // free port, which LocalPort then holds.
    void Listen();
    // Hands Data to the socket once: bytes accepted, 0 without socket or for empty Data,
    // -1 when the platform refused (error, or cannot take more now: SendComplete follows).
    long SendData(std::string_view Data);
    // Closes the socket; raises no event.
    void Disconnect();
    // Takes the next pending connection of the listening socket Server.
    void Accept(CSocket& Server);
    // Reads what is available, at most 1024 bytes, into buf (replaced). The number of bytes;
    // 0 when nothing was read (also on error or end of stream).
    long Recive(std::string& buf);

    void OnReady(std::uint32_t Events) override;

private:
    // A new non-blocking IPv4 stream socket as SocketHandle; false (and closed) when refused.
    bool OpenSocket();
    // Lives on the stack of OnReady: a handler may destroy this socket, and the destructor marks
    // every pass still running on it as over.
    struct LifeGuard {
        explicit LifeGuard(CSocket& Socket);
        ~LifeGuard();
        CSocket* Owner;
        LifeGuard* Outer;
        bool Alive = true;
    };

    bool Watch(std::uint32_t Events);
    void WantWrite(bool On);
    std::uint32_t WatchedEvents() const;
    void FinishConnect(std::uint32_t Events);
    void OfferDataAndClose(std::uint32_t Events);
    std::size_t UnreadBytes() const;

    bool WriteWatched = false;
    bool PeerClosed = false;
    // errno of a connect that failed at once; reported from the loop like a late failure.
    int ConnectErrno = 0;
    // Counts the sockets this object has held: a handler that disconnects and reconnects leaves
    // the old socket's remaining events undelivered.
    std::uint64_t Session = 0;
    // Bytes taken by Recive; shows whether the owner still reads after the peer has gone.
    std::uint64_t BytesRead = 0;
    LifeGuard* Guards = nullptr;
};
