// kdbcheck FILE: checks a record database file and reports what it holds and every inconsistency.
// Exit status 0 consistent, 1 inconsistent, 2 the file cannot be read. Safe on a file in use by a
// running server: it only reads.

#include <cstdio>

#include "server/db/KdbCheck.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: kdbcheck FILE\n", stderr);
        return 2;
    }
    const KdbCheckReport report = CheckDataBaseFile(argv[1]);
    for (const std::string& line : report.Lines)
        std::printf("%s\n", line.c_str());
    return report.ExitStatus;
}
