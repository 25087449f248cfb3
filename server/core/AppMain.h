#pragma once
// Process-wide state and the start-up of the server program.

#include <string>
#include <string_view>

class IRCServer;

// The program directory, always ending with "/".
extern std::string AppPath;
// The one server object while the program runs (nullptr before and after).
extern IRCServer* TheServer;

// Appends one line, "YYYY-MM-DD HH:MM:SS " + Text, to the log file in the program directory.
// The file is opened and closed for every line so it can be moved or deleted while the server
// runs; a failure to write it never disturbs anything else.
void WriteLog(std::string_view Text);

// Sets AppPath from a directory text, adding the trailing separator.
void SetAppPath(std::string_view Directory);

// The start-up procedure: command line, server object, event loop until a signal ends it.
int Main(int argc, char** argv);
