#include "net/SocketModule.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace
{

struct ErrorTextCase {
    int Number;
    const char* Text;
};
constexpr ErrorTextCase ErrorTextCases[] = {
    {10004, "Interrupted system call."},
    {10013, "Permission Denied."},
    {10035, "Operation would block."},
    {10048, "Address already in use."},
    {10049, "Can't assign requested address."},
    {10059, "Too many references: can't splice."},
    {10061, "Connection refused."},
    {10071, "Too many levels of remote in path."},
    {10091, "Network subsystem is unusable."},
    {10101, "Disconnect."},
    {11001, "Host not found."},
    {11004, "Valid name, no data record of requested type."},
    {0, ""},     // no error has no text
    {10000, ""}, // gaps in the numbering
    {10072, ""},
    {11005, ""},
    {111, ""}, // an unmapped errno is not a table number
};

TEST(GetErrorText, Table)
{
    for (const ErrorTextCase& c : ErrorTextCases) {
        SCOPED_TRACE(c.Number);
        EXPECT_EQ(GetErrorText(c.Number), c.Text);
    }
}

struct ErrnoCase {
    int Errno;
    int Number;
};
constexpr ErrnoCase ErrnoCases[] = {
    {0, 0},          {ECONNREFUSED, 10061}, {ECONNRESET, 10054},   {ETIMEDOUT, 10060},   {EADDRINUSE, 10048},
    {EAGAIN, 10035}, {EINPROGRESS, 10036},  {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051}, {ENOTCONN, 10057},
    {EPIPE, 10058},  {ENOENT, ENOENT}, // no socket counterpart: kept as it is
};

TEST(MapErrno, Table)
{
    for (const ErrnoCase& c : ErrnoCases) {
        SCOPED_TRACE(c.Errno);
        EXPECT_EQ(MapErrno(c.Errno), c.Number);
    }
}

TEST(MapErrno, RefusalReadsAsConnectionRefused)
{
    EXPECT_EQ(GetErrorText(MapErrno(ECONNREFUSED)), "Connection refused.");
}

struct AddressCase {
    const char* Host;
    std::int64_t Address;
};
constexpr AddressCase AddressCases[] = {
    {"127.0.0.1", 0x7F000001},    {"10.1.2.3", 0x0A010203},
    {"127.1", 0x7F000001}, // the short dotted form still is a dotted address
    {"localhost", 0x7F000001},    {"", -1},
    {"no-such-host.invalid", -1},
};

TEST(GetHostAddress, Table)
{
    for (const AddressCase& c : AddressCases) {
        SCOPED_TRACE(c.Host);
        EXPECT_EQ(GetHostAddress(c.Host), c.Address);
    }
}

TEST(GetLocalHostName, HasNoSurroundingSpaces)
{
    const std::string name = GetLocalHostName();
    ASSERT_FALSE(name.empty());
    EXPECT_NE(name.front(), ' ');
    EXPECT_NE(name.back(), ' ');
}

TEST(SocketModule, UnconnectedSocketHasNoPeer)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(GetPeerAddress(fd), "");
    EXPECT_EQ(GetPeerPort(fd), 0);
    EXPECT_EQ(SetLinger(fd, 1, 0), 0);
    close(fd);
    EXPECT_EQ(SetLinger(-1, 1, 0), -1);
}

} // namespace
