#pragma once
// Helpers of the socket layer: addresses, the local host name and the error text table.

#include <cstdint>
#include <string>
#include <string_view>

// The IPv4 address (host byte order) of a dotted address or, failing that, of a host name
// (first answer of a blocking lookup); -1 when there is none. 255.255.255.255 counts as
// "not a dotted address".
std::int64_t GetHostAddress(std::string_view Host);
// The local host name without surrounding spaces; "" on any error.
std::string GetLocalHostName();
std::string GetPeerAddress(int Socket);
long GetPeerPort(int Socket);
// The text for a Windows Sockets error number; "" for a number not in the table.
std::string GetErrorText(int Number);
// Maps an errno value to the Windows Sockets number of the same meaning (ECONNREFUSED to
// 10061, ...); 0 for errno 0, and the errno itself when there is no counterpart.
int MapErrno(int Errno);
// Sets and reads back the linger option: 0 on success, -1 when either step fails.
int SetLinger(int Socket, int OnOff, int Seconds);
