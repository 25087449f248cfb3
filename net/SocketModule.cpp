#include "net/SocketModule.h"

#include "common/Text.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace
{

struct ErrorText {
    int Number;
    const char* Text;
};

// Keyed by the Windows Sockets numbers, which are what the owners of sockets and the log know.
constexpr ErrorText ErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Permission Denied."},
    {10014, "Bad Address."},
    {10022, "Invalid Argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on nonsocket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Protocol not available."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Can't assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Network dropped connection."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Can't send after socket shutdown."},
    {10059, "Too many references: can't splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty."},
    {10067, "Too many processes."},
    {10068, "Too many users."},
    {10069, "Disk quota exceeded."},
    {10070, "Stale NFS file handle."},
    {10071, "Too many levels of remote in path."},
    {10091, "Network subsystem is unusable."},
    {10092, "Winsock DLL cannot support this application."},
    {10093, "Winsock not initialized."},
    {10101, "Disconnect."},
    {11001, "Host not found."},
    {11002, "Nonauthoritative host not found."},
    {11003, "Nonrecoverable error."},
    {11004, "Valid name, no data record of requested type."},
};

struct ErrnoNumber {
    int Errno;
    int Number;
};

// A table rather than a switch: several errno names share a value on Linux (EAGAIN and
// EWOULDBLOCK, ENOTSUP and EOPNOTSUPP); the first row wins.
constexpr ErrnoNumber ErrnoNumbers[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},          {EPERM, 10013},
    {EFAULT, 10014},       {EINVAL, 10022},          {EMFILE, 10024},          {ENFILE, 10024},
    {EAGAIN, 10035},       {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},     {EALREADY, 10037},
    {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},     {ENETUNREACH, 10051},     {ENETRESET, 10052},       {ECONNABORTED, 10053},
    {ECONNRESET, 10054},   {ENOBUFS, 10055},         {ENOMEM, 10055},          {EISCONN, 10056},
    {ENOTCONN, 10057},     {ESHUTDOWN, 10058},       {EPIPE, 10058},           {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},    {ELOOP, 10062},           {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},       {EUSERS, 10068},
    {EDQUOT, 10069},       {ESTALE, 10070},          {EREMOTE, 10071},
};

} // namespace

std::int64_t GetHostAddress(std::string_view Host)
{
    const std::string host(Host);
    // inet_addr takes the classic dotted forms ("127.1" too); its error value is the all-ones
    // address, so 255.255.255.255 goes on to the name lookup like any name.
    const in_addr_t dotted = inet_addr(host.c_str());
    if (dotted != INADDR_NONE) return ntohl(dotted);

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &answer) != 0 || answer == nullptr) return -1;
    std::int64_t result = -1;
    if (answer->ai_family == AF_INET && answer->ai_addr != nullptr) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
        result = ntohl(address->sin_addr.s_addr);
    }
    freeaddrinfo(answer);
    return result;
}

std::string GetLocalHostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return std::string(TrimSpaces(std::string_view(name)));
}

std::string GetPeerAddress(int Socket)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (getpeername(Socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return "";
    if (peer.sin_family != AF_INET) return "";
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) == nullptr) return "";
    return text;
}

long GetPeerPort(int Socket)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (getpeername(Socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return 0;
    if (peer.sin_family != AF_INET) return 0;
    return ntohs(peer.sin_port);
}

std::string GetErrorText(int Number)
{
    for (const ErrorText& entry : ErrorTexts)
        if (entry.Number == Number) return entry.Text;
    return "";
}

int MapErrno(int Errno)
{
    if (Errno == 0) return 0;
    for (const ErrnoNumber& entry : ErrnoNumbers)
        if (entry.Errno == Errno) return entry.Number;
    return Errno;
}

int SetLinger(int Socket, int OnOff, int Seconds)
{
    linger wanted{};
    wanted.l_onoff = OnOff;
    wanted.l_linger = Seconds;
    if (setsockopt(Socket, SOL_SOCKET, SO_LINGER, &wanted, sizeof wanted) != 0) return -1;
    linger actual{};
    socklen_t length = sizeof actual;
    if (getsockopt(Socket, SOL_SOCKET, SO_LINGER, &actual, &length) != 0) return -1;
    return 0;
}
