#pragma once
// Small helpers shared by the channel and message tests.

#include "server/core/Langw.h"
#include "support_lib/TestServer.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

// Joins and waits for the end of the NAMES reply, which ends a successful JOIN.
inline void JoinDone(TestClient& Client, std::string_view Channel)
{
    Client.Send("JOIN " + std::string(Channel));
    Client.Expect(" 366 ");
}

inline int CountContaining(const std::vector<std::string>& Lines, std::string_view What)
{
    return static_cast<int>(std::count_if(Lines.begin(), Lines.end(), [&](const std::string& line) {
        return line.find(What) != std::string::npos;
    }));
}

// The part of a line after its source: "JOIN :#a" of ":Ann!u@h JOIN :#a".
inline std::string AfterSource(std::string_view Line)
{
    const std::size_t space = Line.find(' ');
    return space == std::string_view::npos ? std::string() : std::string(Line.substr(space + 1));
}
