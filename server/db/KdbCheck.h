#pragma once
// The offline check behind the kdbcheck tool: walks a whole record database file and reports the
// registered nicks and channels, the global slots in use and every inconsistency in plain lines.
// It only reads, and takes no lock, so it works while a server has the file open.
//
// Inconsistent means something a running server could trip over: an index entry or chain link that
// leads to a free line, outside the file or outside the data blocks; a line reachable from two
// chains; a chain or index that loops; counters in slots 0 and 1 that disagree with the indexes.
// Lines that are in use but belong to nothing are only noted: a crash can leave them, and they cost
// space, not correctness.

#include <string>
#include <string_view>
#include <vector>

struct KdbCheckReport {
    int ExitStatus = 0; // 0 consistent, 1 inconsistent, 2 the file cannot be read
    std::vector<std::string> Lines;
};

KdbCheckReport CheckDataBaseFile(const std::string& Path);
KdbCheckReport CheckDataBaseImage(std::string_view Image);
