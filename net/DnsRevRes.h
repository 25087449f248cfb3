#pragma once
// Reverse name lookup: a queue of at most 128 clients resolved one at a time by a worker
// thread; results come back to the loop thread in queue order.

#include <functional>
#include <string>

class LookupClient
{
public:
    // The address to look up, dotted decimal (the connection's HostIP).
    virtual const std::string& GetHostIP() const = 0;
    // Called once per request that was not cancelled, with the name or "" when there is none.
    virtual void DnsResEvent(const std::string& RemoteHostName) = 0;

protected:
    ~LookupClient() = default;
};

void StartLookupService();
void ReleaseLookupService();
void QueueLookup(LookupClient* Conn);
void CancelLookup(LookupClient* Conn);

// The resolver runs on the worker thread: address text in, host name or "" out. The default
// uses getnameinfo with names required. Tests install their own.
using ReverseResolver = std::function<std::string(const std::string& Address)>;
void SetReverseResolver(ReverseResolver Resolver); // empty restores the default
