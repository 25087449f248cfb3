// A process may be killed between any two writes. For each operation that writes more than once,
// these tests stop every write after the first n (as a kill would), for every n, and check that
// the file is still consistent, that nothing but the operation in flight is lost, and that the
// operation either happened completely or not at all where it claims to be all-or-nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "DbTestSupport.h"
#include "server/db/GlobalSlots.h"
#include "server/db/ItemValues.h"
#include "server/db/KDBHelp.h"
#include "server/db/KdbCheck.h"

namespace
{

std::int32_t LastLine(KvDataBase& DB, std::int32_t First)
{
    std::int32_t line = First;
    while (DB.GetNextItem(line) >= 2)
        line = DB.GetNextItem(line);
    return line;
}

// A sub-chain of Count lines in value ValIndex of the item, each holding "piece n".
void AddList(KvDataBase& DB, std::int32_t Item, std::int16_t ValIndex, int Count)
{
    std::int32_t line = NewSubChain(DB, Item, ValIndex);
    for (int i = 0; i < Count; ++i) {
        ASSERT_TRUE(DB.WriteValueByID(line, "piece " + std::to_string(i)));
        line = ExtendChain(DB, line);
        ASSERT_GE(line, 2);
    }
}

struct CrashCase {
    std::string Name;
    std::function<void(KvDataBase&)> Setup;
    std::function<void(KvDataBase&)> Operation;
    // Checked on the reopened file after every cut: the operation is whole or absent.
    std::function<void(KvDataBase&)> Outcome;
};

void RegisterKeepers(KvDataBase& DB)
{
    ASSERT_EQ(DB.CreateUser("Keep", "pw", "keep@example.org", "en"), 0);
    ASSERT_EQ(DB.CreateChannel("#Keep", "Keep", "pw"), 0);
    AddList(DB, DB.GetUserID("keep"), UserValue::MemoChain, 3);
}

void NewUserIsWholeOrAbsent(KvDataBase& DB)
{
    const std::int32_t id = DB.GetUserID("new");
    if (id == 0) return;
    EXPECT_EQ(DB.ReadValue(id, UserValue::Nick), "New");
    EXPECT_EQ(DB.ReadValue(id, UserValue::Password), "pw");
    EXPECT_EQ(DB.ReadValue(id, UserValue::Language), "en");
}

const std::vector<CrashCase>& Cases()
{
    static const std::vector<CrashCase> cases = {
        {"CreateUser", [](KvDataBase&) {},
         [](KvDataBase& DB) { DB.CreateUser("New", "pw", "new@example.org", "en"); }, NewUserIsWholeOrAbsent},
        {"CreateUser claiming an overflow index block",
         [](KvDataBase& DB) {
             for (int i = 0; i < 62; ++i)
                 ASSERT_EQ(DB.CreateUser("Filler" + std::to_string(i), "pw", "", ""), 0);
         },
         [](KvDataBase& DB) { DB.CreateUser("New", "pw", "", "en"); }, NewUserIsWholeOrAbsent},
        {"CreateUser growing the file",
         [](KvDataBase& DB) {
             // Data blocks 2 to 15 of a new file hold 882 lines; the keepers take 27 of them and
             // the filler the rest. The next line needs block 16, the last of a new file, and
             // claiming the last block grows the file.
             const std::int32_t filler = DB.GetNextFreeLine();
             ASSERT_EQ(DB.WriteValue(filler, 854, "filler"), 0);
         },
         [](KvDataBase& DB) { DB.CreateUser("New", "pw", "", "en"); }, NewUserIsWholeOrAbsent},
        {"CreateChannel", [](KvDataBase&) {}, [](KvDataBase& DB) { DB.CreateChannel("#New", "Keep", "pw"); },
         [](KvDataBase& DB) {
             const std::int32_t id = DB.GetChanID("#new");
             if (id != 0) {
                 EXPECT_EQ(DB.ReadValue(id, ChanValue::Owner), "Keep");
             }
         }},
        {"WriteValue extending a chain", [](KvDataBase&) {},
         [](KvDataBase& DB) { DB.WriteValue(DB.GetUserID("keep"), 16, "far"); },
         [](KvDataBase& DB) {
             const std::string far = DB.ReadValue(DB.GetUserID("keep"), 16);
             EXPECT_TRUE(far.empty() || far == "far") << far;
         }},
        {"RemoveUser with memos",
         [](KvDataBase& DB) {
             ASSERT_EQ(DB.CreateUser("Gone", "pw", "", "en"), 0);
             AddList(DB, DB.GetUserID("gone"), UserValue::MemoChain, 4);
         },
         [](KvDataBase& DB) { DB.RemoveUser("Gone"); },
         [](KvDataBase& DB) {
             const std::int32_t id = DB.GetUserID("gone");
             if (id != 0) {
                 EXPECT_EQ(DB.ReadValue(id, UserValue::Password), "pw");
             }
         }},
        {"RemoveChan with topic, bans and member statuses",
         [](KvDataBase& DB) {
             ASSERT_EQ(DB.CreateChannel("#Gone", "Keep", "pw"), 0);
             const std::int32_t id = DB.GetChanID("#gone");
             AddList(DB, id, ChanValue::TopicChain, 3);
             AddList(DB, id, ChanValue::BanChain, 6);
             AddList(DB, id, ChanValue::MemberChain, 2);
         },
         [](KvDataBase& DB) { DB.RemoveChan("#Gone"); }, [](KvDataBase&) {}},
        {"TruncateChain", [](KvDataBase&) {},
         [](KvDataBase& DB) { TruncateChain(DB, DB.GetSubItem(DB.GetUserID("keep"), UserValue::MemoChain)); },
         [](KvDataBase&) {}},
        {"FreeChain after unlinking", [](KvDataBase&) {},
         [](KvDataBase& DB) {
             const std::int32_t id = DB.GetUserID("keep");
             const std::int32_t head = DB.GetSubItem(id, UserValue::MemoChain);
             if (DB.WriteValue(id, UserValue::MemoChain, "") == 0) FreeChain(DB, head);
         },
         [](KvDataBase&) {}},
        {"NewSubChain", [](KvDataBase&) {},
         [](KvDataBase& DB) { NewSubChain(DB, DB.GetChanID("#keep"), ChanValue::TopicChain); },
         [](KvDataBase&) {}},
        {"ExtendChain", [](KvDataBase&) {},
         [](KvDataBase& DB) {
             ExtendChain(DB, LastLine(DB, DB.GetSubItem(DB.GetUserID("keep"), UserValue::MemoChain)));
         },
         [](KvDataBase&) {}},
        {"NewSlotChain", [](KvDataBase&) {}, [](KvDataBase& DB) { NewSlotChain(DB, GlobalSlot::GLineChain); },
         [](KvDataBase&) {}},
    };
    return cases;
}

} // namespace

class CrashOrderTest : public DbTest
{
protected:
    // Everything set up before the operation must survive any cut.
    void KeepersSurvive(KvDataBase& DB)
    {
        const std::int32_t keep = DB.GetUserID("keep");
        ASSERT_NE(keep, 0);
        EXPECT_EQ(DB.ReadValue(keep, UserValue::Password), "pw");
        EXPECT_EQ(DB.ReadValue(keep, UserValue::EMail), "keep@example.org");
        EXPECT_EQ(DB.ReadValue(DB.GetChanID("#keep"), ChanValue::Owner), "Keep");
    }
};

TEST_F(CrashOrderTest, EveryCutLeavesAConsistentFile)
{
    for (const CrashCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove(Path);
        {
            KvDataBase db;
            Open(db);
            RegisterKeepers(db);
            c.Setup(db);
        }
        const std::string base = Image();
        ASSERT_EQ(CheckDataBaseFile(Path).ExitStatus, 0) << Joined(CheckDataBaseFile(Path));

        long total = 0;
        {
            KvDataBase db;
            Open(db);
            const long before = db.WritesDone();
            c.Operation(db);
            total = db.WritesDone() - before;
        }
        ASSERT_GT(total, 1) << "not a multi-write operation";
        ASSERT_TRUE(Errors.empty()) << Errors.front();
        if (c.Name == "CreateUser growing the file") {
            EXPECT_EQ(base.size(), 79872u);
            EXPECT_EQ(Image().size(), 141312u);
        }

        for (long cut = 0; cut <= total; ++cut) {
            SCOPED_TRACE("killed after write " + std::to_string(cut) + " of " + std::to_string(total));
            WriteFileBytes(Path, base);
            {
                KvDataBase db;
                Open(db);
                db.FailWritesAfter(cut);
                c.Operation(db);
            } // the object goes away without another write, as the process would
            const KdbCheckReport cutReport = CheckDataBaseFile(Path);
            EXPECT_EQ(cutReport.ExitStatus, 0) << Joined(cutReport);

            KvDataBase db;
            Open(db);
            KeepersSurvive(db);
            c.Outcome(db);
            db.CloseDataBase();
            // Reopening has put the counters right: nothing is left but unreachable lines.
            const KdbCheckReport reopened = CheckDataBaseFile(Path);
            EXPECT_EQ(reopened.ExitStatus, 0) << Joined(reopened);
            EXPECT_FALSE(std::any_of(
                reopened.Lines.begin(), reopened.Lines.end(),
                [](const std::string& Line) { return Line.find(" counts ") != std::string::npos; }))
                << Joined(reopened);
        }
        Errors.clear();
    }
}
