#pragma once
// User masks (nick!user@host with "*" wildcards) and the small text helpers that commands share.

#include <span>
#include <string>
#include <string_view>

// Completes a partial mask to nick!user@host with "*" parts: "bob" gives "bob!*@*", "@host" gives
// "*!*@host", "user@host" gives "*!user@host".
std::string ExpandMask(std::string_view Mask);
// The "*" wildcard match of a mask against a text, ignoring case. Allocation-free: it runs for every
// ban and G-line on each JOIN and registration.
bool MatchMask(std::string_view Pattern, std::string_view Text);

// The hash shown in place of the first label of a host name: the weighted byte sum in upper-case hex.
std::string CloakHash(std::string_view Text);

// Tokens k to ParamCount (at most 127) joined with single spaces; empty tokens before the first
// non-empty one vanish.
std::string JoinTokens(std::span<const std::string> Params, int ParamCount, int k);

// Every byte with a code from 4 to LastCode replaced by Replacement. TOPIC cleans with (31, ' ');
// server settings are made safe with (32, '_') so that they stay one word.
std::string CleanText(std::string_view Text, unsigned char LastCode, char Replacement);
