#include <gtest/gtest.h>

#include <map>
#include <random>
#include <unistd.h>

#include "DbTestSupport.h"
#include "common/Text.h"
#include "server/db/GlobalSlots.h"
#include "server/db/ItemValues.h"
#include "server/db/KDBHelp.h"

using namespace Kdb;

class KvDataBaseTest : public DbTest
{
};

namespace
{

// The item lines a chain walks through, first line first.
std::vector<std::int32_t> ChainOf(const std::string& Image, std::int32_t First)
{
    std::vector<std::int32_t> lines;
    for (std::int32_t p = First; p >= 2 && lines.size() < 1000; p = FieldNumber(At(Image, p, FieldSize)))
        lines.push_back(p);
    return lines;
}

// Lookup as the file format defines it, straight from the bytes: the first entry along the chain
// whose key, trailing spaces removed, equals the lower-cased name.
std::int32_t LookupInFile(const std::string& Image, std::int32_t Start, const std::string& Name)
{
    const std::string query = LowerCase(Name);
    for (std::int32_t block = Start; block != 0; block = FieldNumber(At(Image, block, FieldSize)))
        for (std::int32_t line = 1; line < LinesPerBlock; ++line) {
            const std::string entry = At(Image, block + line * LineSize, LineSize);
            if (std::string(TrimTrailingSpaces(entry.substr(0, FieldSize))) == query)
                return FieldNumber(entry.substr(FieldSize));
        }
    return 0;
}

} // namespace

TEST_F(KvDataBaseTest, NewFileIsExactlyTheEmptyDatabase)
{
    KvDataBase db;
    Open(db);
    EXPECT_EQ(db.State, 1);
    EXPECT_EQ(db.UserCount, 0);
    EXPECT_EQ(db.ChanCount, 0);

    std::string expected(79872, '\0');
    Put(expected, 1, Field("0"));
    Put(expected, 33, Field("0"));
    Put(expected, 65, Field("10241"));
    Put(expected, 97, Field("14337"));
    Put(expected, 10241, TestStamp); // stamps and titles unpadded: the rest of each field stays NUL
    Put(expected, 10273, "Index (Users)");
    Put(expected, 14337, TestStamp);
    Put(expected, 14369, "Index (Channels)");
    const std::string actual = Image();
    EXPECT_TRUE(actual == expected) << FirstDifference(actual, expected);

    EXPECT_EQ(db.GetGlobalVal(0), "0");
    EXPECT_EQ(db.GetGlobalVal(1), "0");
    EXPECT_EQ(db.GetGlobalVal(2), "10241");
    EXPECT_EQ(db.GetGlobalVal(3), "14337");
    EXPECT_TRUE(Errors.empty());
}

TEST_F(KvDataBaseTest, FirstFreeLineClaimsBlockTwoAsData)
{
    KvDataBase db;
    Open(db);
    EXPECT_EQ(db.GetNextFreeLine(), 18497);
    const std::string image = Image();
    EXPECT_EQ(At(image, 18433, 64), Field(TestStamp) + Field("Data"));
    EXPECT_EQ(image.size(), 79872u);
    // The line is handed out, not marked: asking again gives the same one.
    EXPECT_EQ(db.GetNextFreeLine(), 18497);
}

TEST_F(KvDataBaseTest, CreateUserWritesEntryAndItemLines)
{
    KvDataBase db;
    Open(db);
    ASSERT_EQ(db.CreateUser("Alice", "secret", "alice@example.org", "en"), 0);
    EXPECT_EQ(db.UserCount, 1);
    const std::string image = Image();
    EXPECT_EQ(At(image, 10305, 64), Field("alice") + Field("18497"));
    EXPECT_EQ(At(image, 1, 32), Field("1"));

    const std::map<int, std::string> written = {{0, "Alice"},
                                                {1, "secret"},
                                                {2, "alice@example.org"},
                                                {5, TestStamp.substr(2)},
                                                {6, TestStamp.substr(2)},
                                                {11, "en"}};
    for (int v = 0; v <= 11; ++v) {
        SCOPED_TRACE("value " + std::to_string(v));
        const std::int32_t line = 18497 + 64 * v;
        EXPECT_EQ(At(image, line, 32), Field(v < 11 ? std::to_string(line + 64) : "1"));
        const auto value = written.find(v);
        // Lines created only to reach a later value keep the NULs of the fresh block.
        EXPECT_EQ(At(image, line + 32, 32),
                  value != written.end() ? Field(value->second) : std::string(32, '\0'));
        EXPECT_EQ(db.ReadValue(18497, static_cast<std::int16_t>(v)),
                  value != written.end() ? value->second : "");
    }
    EXPECT_EQ(db.ReadValueByID(18497 + 64 * 3), std::string(32, '\0'));
    EXPECT_EQ(At(image, 18497 + 64 * 12, 1), std::string(1, '\0'));
}

TEST_F(KvDataBaseTest, NickKeyIgnoresCase)
{
    KvDataBase db;
    Open(db);
    EXPECT_EQ(db.CreateUser("Alice", "a", "", "en"), 0);
    EXPECT_EQ(db.CreateUser("ALICE", "b", "", "en"), 1);
    EXPECT_EQ(db.GetUserID("aLiCe"), 18497);
    EXPECT_EQ(db.ReadValue(db.GetUserID("alice"), UserValue::Password), "a");
    EXPECT_EQ(db.UserCount, 1);
    EXPECT_EQ(db.GetUserID("bob"), 0);
}

TEST_F(KvDataBaseTest, SixtyFourthNickClaimsAnOverflowIndexBlock)
{
    KvDataBase db;
    Open(db);
    for (int i = 0; i < 63; ++i)
        ASSERT_EQ(db.CreateUser("nick" + std::to_string(i), "pw", "", "en"), 0);
    EXPECT_EQ(At(Image(), 10241, 32), TestStamp + std::string(11, '\0'));

    ASSERT_EQ(db.CreateUser("nick63", "pw", "", "en"), 0);
    const std::string image = Image();
    // 63 items of 12 lines fill data blocks 2 to 13, so the overflow block is block 14 and the new
    // item starts in block 15.
    EXPECT_EQ(At(image, 10241, 32), Field("67585"));
    EXPECT_EQ(At(image, 10273, 32), "Index (Users)" + std::string(19, '\0'));
    EXPECT_EQ(At(image, 67585, 64), Field(TestStamp) + Field("Index (Users)"));
    EXPECT_EQ(At(image, 67649, 64), Field("nick63") + Field("71745"));
    EXPECT_EQ(At(image, 71681, 64), Field(TestStamp) + Field("Data"));
    EXPECT_EQ(db.GetUserID("NICK63"), 71745);
    EXPECT_EQ(db.UserCount, 64);

    db.CloseDataBase();
    KvDataBase again;
    Open(again);
    EXPECT_EQ(again.UserCount, 64);
    for (int i = 0; i < 64; ++i) {
        const std::string nick = "nick" + std::to_string(i);
        EXPECT_EQ(again.GetUserID(nick), LookupInFile(image, 10241, nick)) << nick;
        EXPECT_EQ(again.ReadValue(again.GetUserID(nick), UserValue::Nick), nick);
    }
}

TEST_F(KvDataBaseTest, RemovedEntryIsNulBytesAndIsReused)
{
    KvDataBase db;
    Open(db);
    ASSERT_EQ(db.CreateUser("Ann", "1", "", "en"), 0);
    ASSERT_EQ(db.CreateUser("Bob", "2", "", "en"), 0);
    ASSERT_EQ(db.CreateUser("Cid", "3", "", "en"), 0);
    const std::int32_t bob = db.GetUserID("bob");

    EXPECT_EQ(db.RemoveUser("BOB"), 0);
    std::string image = Image();
    EXPECT_EQ(At(image, 10369, 64), std::string(64, '\0'));
    EXPECT_EQ(db.GetUserID("bob"), 0);
    EXPECT_EQ(db.UserCount, 2);
    EXPECT_EQ(db.GetGlobalVal(GlobalSlot::UserCount), "2");
    // The item's lines are free again.
    EXPECT_EQ(At(image, bob, 64), std::string(64, ' '));
    EXPECT_EQ(db.RemoveUser("bob"), 0); // nothing left to remove: nothing changes
    EXPECT_EQ(db.UserCount, 2);

    ASSERT_EQ(db.CreateUser("Dan", "4", "", "en"), 0);
    image = Image();
    EXPECT_EQ(At(image, 10369, 64), Field("dan") + Field(std::to_string(bob)));
    EXPECT_EQ(db.GetUserID("dan"), bob);
    EXPECT_EQ(db.GetUserID("ann"), 18497);
    EXPECT_EQ(db.GetUserID("cid"), LookupInFile(image, 10241, "cid"));
}

TEST_F(KvDataBaseTest, RemoveUserFreesMemoSubChain)
{
    KvDataBase db;
    Open(db);
    ASSERT_EQ(db.CreateUser("Ann", "1", "", "en"), 0);
    const std::int32_t id = db.GetUserID("ann");
    const std::int32_t head = NewSubChain(db, id, UserValue::MemoChain);
    ASSERT_GE(head, 2);
    const std::int32_t second = ExtendChain(db, head);
    const std::int32_t third = ExtendChain(db, second);
    ASSERT_GE(third, 2);
    EXPECT_EQ(db.GetSubItem(id, UserValue::MemoChain), head);

    const std::vector<std::int32_t> item = ChainOf(Image(), id);
    ASSERT_EQ(item.size(), 12u);
    EXPECT_EQ(db.RemoveUser("Ann"), 0);
    const std::string image = Image();
    for (const std::int32_t line : item)
        EXPECT_EQ(At(image, line, 64), std::string(64, ' ')) << line;
    for (const std::int32_t line : {head, second, third})
        EXPECT_EQ(At(image, line, 64), std::string(64, ' ')) << line;
}

TEST_F(KvDataBaseTest, WriteValueExtendsChainLineByLine)
{
    KvDataBase db;
    Open(db);
    const std::int32_t id = db.GetNextFreeLine();
    ASSERT_EQ(db.WriteValue(id, 0, "zero"), 0);
    ASSERT_EQ(db.WriteValue(id, 6, "six"), 0);
    ASSERT_EQ(ChainOf(Image(), id).size(), 7u);
    std::int32_t last = 0;
    EXPECT_EQ(db.GetValPos(id, 11, last), -7);
    EXPECT_EQ(last, id + 6 * 64);

    ASSERT_EQ(db.WriteValue(id, 11, "eleven"), 0);
    const std::string image = Image();
    const std::vector<std::int32_t> lines = ChainOf(image, id);
    ASSERT_EQ(lines.size(), 12u);
    for (std::size_t v = 7; v < 12; ++v) {
        SCOPED_TRACE("value " + std::to_string(v));
        const std::string header = At(image, lines[v], 32);
        EXPECT_EQ(header, Field(v < 11 ? std::to_string(lines[v + 1]) : "1"));
    }
    EXPECT_EQ(db.ReadValue(id, 11), "eleven");
    EXPECT_EQ(db.ReadValue(id, 6), "six");
    EXPECT_EQ(db.ReadValue(id, 9), "");
    EXPECT_EQ(db.GetValPos(id, 11, last), lines[11]);
    EXPECT_EQ(db.GetValPos(id, 12, last), -12);

    // Rewriting a value that exists changes only its value field.
    ASSERT_EQ(db.WriteValue(id, 3, "three"), 0);
    EXPECT_EQ(ChainOf(Image(), id), lines);
    EXPECT_EQ(db.ReadValue(id, 3), "three");
}

TEST_F(KvDataBaseTest, WriteValueOnAnUnwrittenLineNeverLinksItToItself)
{
    KvDataBase db;
    Open(db);
    const std::int32_t id = db.GetNextFreeLine(); // handed out, not yet marked
    ASSERT_EQ(db.WriteValue(id, 2, "two"), 0);
    const std::vector<std::int32_t> lines = ChainOf(Image(), id);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines, (std::vector<std::int32_t>{id, id + 64, id + 128}));
    EXPECT_EQ(db.ReadValue(id, 2), "two");
}

TEST_F(KvDataBaseTest, GetValPosOfValueZeroReadsNothing)
{
    KvDataBase closed;
    std::int32_t last = -5;
    EXPECT_EQ(closed.GetValPos(12345, 0, last), 12345);
    EXPECT_EQ(last, -5);
}

TEST_F(KvDataBaseTest, GlobalSlotsReadTrimmedText)
{
    struct SlotCase {
        int Slot;
        std::string Written, Read;
    };
    const SlotCase cases[] = {
        {GlobalSlot::NetWorkName, "  abc  ", "abc"},
        {GlobalSlot::LHName, std::string(40, 'n'), std::string(32, 'n')}, // cut to the field
        {GlobalSlot::SmtpServer, "", ""},
        {GlobalSlot::Logging, "3", "3"},
        {GlobalSlot::DefoultLang, "Deutsch", "Deutsch"},
    };
    KvDataBase db;
    Open(db);
    for (const SlotCase& c : cases) {
        SCOPED_TRACE("slot " + std::to_string(c.Slot));
        EXPECT_TRUE(db.SetGlobalVal(c.Slot, c.Written));
        EXPECT_EQ(db.GetGlobalVal(c.Slot), c.Read);
    }
    EXPECT_EQ(db.GetGlobalVal(30), ""); // never written
    // The logging level has its own slot, right after the away mode, inside the global area.
    EXPECT_EQ(At(Image(), 32 * 24 + 1, 32), Field("3"));
    EXPECT_EQ(db.GetGlobalVal(GlobalSlot::DefoultLang), "Deutsch");

    EXPECT_FALSE(db.SetGlobalVal(320, "x")); // would land in the user index block
    EXPECT_EQ(db.GetGlobalVal(-1), "");
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_EQ(Errors[0], "ERROR SetGlobalVal there is no slot 320");
}

TEST_F(KvDataBaseTest, SettingsSurviveReopening)
{
    std::map<int, std::string> settings;
    for (int slot = GlobalSlot::InstDate; slot <= GlobalSlot::Logging; ++slot)
        settings[slot] = "value of slot " + std::to_string(slot);
    {
        KvDataBase db;
        Open(db);
        for (const auto& [slot, value] : settings)
            ASSERT_TRUE(db.SetGlobalVal(slot, value));
        EXPECT_TRUE(db.Sync());
    }
    KvDataBase db;
    Open(db);
    for (const auto& [slot, value] : settings)
        EXPECT_EQ(db.GetGlobalVal(slot), value) << "slot " << slot;
    EXPECT_EQ(db.GetGlobalVal(GlobalSlot::UserIndexBlock), "10241");
}

TEST_F(KvDataBaseTest, SecondOpenerIsRefusedWhileTheFirstHoldsTheFile)
{
    KvDataBase first;
    Open(first);
    KvDataBase second;
    EXPECT_FALSE(second.OpenDataBase(Path));
    EXPECT_EQ(second.State, 0);
    EXPECT_EQ(second.LastOpenFailure, OpenFailure::InUse);
    EXPECT_NE(second.OpenFailureText.find("in use by another server"), std::string::npos)
        << second.OpenFailureText;
    EXPECT_EQ(second.GetGlobalVal(2), "");

    first.CloseDataBase();
    EXPECT_TRUE(second.OpenDataBase(Path)) << second.OpenFailureText;
    EXPECT_EQ(second.LastOpenFailure, OpenFailure::None);
}

TEST_F(KvDataBaseTest, OpeningReportsWhyItFailed)
{
    KvDataBase db;
    db.LogError = [this](const std::string& Line) { Errors.push_back(Line); };
    EXPECT_FALSE(db.OpenDataBase(Dir + "/missing/KorvaneIRCD.kdb"));
    EXPECT_EQ(db.LastOpenFailure, OpenFailure::CannotOpen);

    WriteFileBytes(Path, std::string(100000, 'x'));
    EXPECT_FALSE(db.OpenDataBase(Path));
    EXPECT_EQ(db.LastOpenFailure, OpenFailure::Damaged);
    EXPECT_EQ(ReadFileBytes(Path), std::string(100000, 'x')); // a foreign file is left alone

    WriteFileBytes(Path, std::string(100, '\0'));
    EXPECT_FALSE(db.OpenDataBase(Path));
    EXPECT_EQ(db.LastOpenFailure, OpenFailure::Damaged);
    EXPECT_EQ(db.State, 0);
}

TEST_F(KvDataBaseTest, EmptyFileBecomesANewDatabase)
{
    WriteFileBytes(Path, "");
    KvDataBase db;
    Open(db);
    EXPECT_EQ(Image().size(), 79872u);
    EXPECT_EQ(db.GetGlobalVal(3), "14337");
    EXPECT_EQ(db.GetNextFreeLine(), 18497);
}

TEST_F(KvDataBaseTest, ClosedDatabaseFailsHarmlessly)
{
    KvDataBase db;
    db.LogError = [this](const std::string& Line) { Errors.push_back(Line); };
    EXPECT_EQ(db.GetGlobalVal(GlobalSlot::LHName), "");
    EXPECT_FALSE(db.SetGlobalVal(GlobalSlot::LHName, "x"));
    EXPECT_EQ(db.CreateUser("Ann", "", "", ""), -1);
    EXPECT_EQ(db.CreateChannel("#a", "", ""), -1);
    EXPECT_EQ(db.GetUserID("Ann"), 0);
    EXPECT_EQ(db.RemoveUser("Ann"), -1);
    EXPECT_EQ(db.ReadValue(18497, 1), "");
    EXPECT_EQ(db.WriteValue(18497, 1, "x"), -1);
    EXPECT_EQ(db.GetNextFreeLine(), 0);
    EXPECT_EQ(db.GetSubItem(18497, 7), 0);
    EXPECT_FALSE(db.Sync());
    EXPECT_TRUE(Errors.empty()); // the failed opening was reported once, to the caller
}

TEST_F(KvDataBaseTest, TruncatedFileGivesErrorsNotCrashes)
{
    KvDataBase db;
    Open(db);
    ASSERT_EQ(db.CreateUser("Ann", "pw", "", "en"), 0);
    const std::int32_t id = db.GetUserID("ann");
    // Cut by hand behind the item's first line, while the server runs.
    ASSERT_EQ(truncate(Path.c_str(), 18497 + 63), 0);

    EXPECT_EQ(db.ReadValue(id, UserValue::Password), "");
    ASSERT_FALSE(Errors.empty());
    EXPECT_EQ(Errors.back().rfind("ERROR ReadValue read of 32 bytes at position 18593", 0), 0u)
        << Errors.back();
    EXPECT_EQ(db.WriteValue(id, UserValue::AwayMsg, "away"), -1);
    EXPECT_EQ(Errors.back().rfind("ERROR WriteValue ", 0), 0u) << Errors.back();
    EXPECT_EQ(db.GetUserID("ann"), id);
    EXPECT_EQ(db.ReadValue(id, UserValue::Nick), "Ann");
    db.CloseDataBase();

    // Reopened, the index still reads; the lost lines read as errors.
    Errors.clear();
    KvDataBase again;
    Open(again);
    EXPECT_EQ(again.GetUserID("ann"), id);
    EXPECT_EQ(again.ReadValue(id, UserValue::EMail), "");
    EXPECT_FALSE(Errors.empty());
    EXPECT_EQ(again.CreateUser("Bob", "pw", "", "en"), -1);
    EXPECT_EQ(again.GetUserID("bob"), 0);
}

TEST_F(KvDataBaseTest, FailedWritesAreReportedAndLeaveNothingHalfDone)
{
    KvDataBase db;
    Open(db);
    db.FailWritesAfter(0);
    EXPECT_FALSE(db.SetGlobalVal(GlobalSlot::LHName, "irc.example"));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0],
              "ERROR SetGlobalVal write of 32 bytes at position 257 refused: writing has been stopped");
    EXPECT_EQ(db.CreateUser("Ann", "pw", "", "en"), -1);
    EXPECT_EQ(db.GetUserID("ann"), 0);
    EXPECT_EQ(db.UserCount, 0);

    db.FailWritesAfter(-1);
    EXPECT_EQ(db.CreateUser("Ann", "pw", "", "en"), 0);
    EXPECT_EQ(db.GetUserID("ann"), 18497);
}

TEST_F(KvDataBaseTest, CountersFollowTheIndexAtOpening)
{
    {
        KvDataBase db;
        Open(db);
        ASSERT_EQ(db.CreateUser("Ann", "", "", ""), 0);
        ASSERT_EQ(db.CreateUser("Bob", "", "", ""), 0);
        ASSERT_EQ(db.CreateChannel("#c", "Ann", ""), 0);
    }
    std::string image = Image();
    Put(image, 1, Field("7"));
    Put(image, 33, Field("0"));
    WriteFileBytes(Path, image);

    KvDataBase db;
    Open(db);
    EXPECT_EQ(db.UserCount, 2);
    EXPECT_EQ(db.ChanCount, 1);
    EXPECT_EQ(db.GetGlobalVal(0), "2");
    EXPECT_EQ(db.GetGlobalVal(1), "1");
}

TEST_F(KvDataBaseTest, CreateChannelWritesItsValues)
{
    KvDataBase db;
    Open(db);
    ASSERT_EQ(db.CreateChannel("#Lobby", "Ann", "secret"), 0);
    EXPECT_EQ(db.CreateChannel("#LOBBY", "Bob", "x"), 1);
    EXPECT_EQ(db.ChanCount, 1);
    const std::string image = Image();
    EXPECT_EQ(At(image, 14401, 64), Field("#lobby") + Field("18497"));
    const std::int32_t id = db.GetChanID("#lobby");
    ASSERT_EQ(id, 18497);
    EXPECT_EQ(ChainOf(image, id).size(), 11u);
    EXPECT_EQ(db.ReadValue(id, ChanValue::Name), "#Lobby");
    EXPECT_EQ(db.ReadValue(id, ChanValue::Owner), "Ann");
    EXPECT_EQ(db.ReadValue(id, ChanValue::Password), "secret");
    EXPECT_EQ(db.ReadValue(id, ChanValue::FoundDate), TestStamp.substr(2));
    EXPECT_EQ(db.ReadValue(id, ChanValue::SaveDate), TestStamp.substr(2));
    EXPECT_EQ(At(image, id + 10 * 64 + 32, 32), std::string(32, ' ')); // the empty ban list head
    EXPECT_EQ(db.GetSubItem(id, ChanValue::BanChain), 0);
    EXPECT_EQ(db.GetUserID("#lobby"), 0); // nicks and channels have separate indexes
}

TEST_F(KvDataBaseTest, ChannelNamesLongerThanTheKeyAreFoundAgain)
{
    const std::string name = "#" + std::string(39, 'L');
    KvDataBase db;
    Open(db);
    ASSERT_EQ(db.CreateChannel(name, "Ann", ""), 0);
    EXPECT_EQ(At(Image(), 14401, 32), LowerCase(name.substr(0, 32)));
    EXPECT_EQ(db.GetChanID(name), 18497);
    EXPECT_EQ(db.ReadValue(18497, ChanValue::Name), name.substr(0, 32));
    EXPECT_EQ(db.RemoveChan(name), 0);
    EXPECT_EQ(db.GetChanID(name), 0);
    EXPECT_EQ(db.ChanCount, 0);
}

TEST_F(KvDataBaseTest, NamesThatCannotBeKeysAreRefused)
{
    KvDataBase db;
    Open(db);
    EXPECT_EQ(db.CreateUser("", "", "", ""), -1);
    EXPECT_EQ(db.CreateUser(" Ann", "", "", ""), -1);
    EXPECT_EQ(db.CreateRootItem(10241, ""), 0);
    EXPECT_EQ(db.CreateRootItem(18433, "x"), 0); // not an index
    EXPECT_EQ(db.UserCount, 0);
    EXPECT_EQ(At(Image(), 10305, 64), std::string(64, '\0'));
}

TEST_F(KvDataBaseTest, CreateRootItemAloneMakesAReachableOneLineItem)
{
    KvDataBase db;
    Open(db);
    EXPECT_EQ(db.CreateRootItem(14337, "#x"), 18497);
    EXPECT_EQ(db.CreateRootItem(14337, "#x"), 0);
    EXPECT_EQ(db.GetChanID("#X"), 18497);
    EXPECT_EQ(At(Image(), 18497, 32), Field("1"));
}

TEST_F(KvDataBaseTest, FreedLinesAreHandedOutAgain)
{
    KvDataBase db;
    Open(db);
    const std::int32_t first = db.GetNextFreeLine();
    ASSERT_EQ(db.WriteValue(first, 70, "x"), 0); // two blocks' worth
    const std::int32_t next = db.GetNextFreeLine();
    EXPECT_GT(next, first + 63 * 64);
    std::int32_t last = 0;
    const std::int32_t middle = db.GetValPos(first, 5, last);
    ASSERT_TRUE(db.WriteHeaderByID(middle, ""));
    EXPECT_EQ(db.GetNextFreeLine(), middle);
}

TEST_F(KvDataBaseTest, LookupsAnswerAsAWalkOfTheFileWould)
{
    std::mt19937 random(4);
    std::vector<std::string> names;
    for (int i = 0; i < 90; ++i)
        names.push_back((i % 3 == 0 ? "Nick" : "nick") + std::to_string(i));
    KvDataBase db;
    Open(db);
    for (int step = 0; step < 400; ++step) {
        const std::string& name = names[random() % names.size()];
        if (random() % 3 == 0) {
            ASSERT_EQ(db.RemoveUser(name), 0);
        } else {
            ASSERT_GE(db.CreateUser(name, "pw", "", "en"), 0);
        }
        if (random() % 4 == 0) {
            ASSERT_GE(db.CreateChannel("#" + name, name, ""), 0);
        }
    }
    const std::string image = Image();
    int registered = 0;
    for (const std::string& name : names) {
        EXPECT_EQ(db.GetUserID(name), LookupInFile(image, 10241, name)) << name;
        EXPECT_EQ(db.GetChanID("#" + name), LookupInFile(image, 14337, "#" + name)) << name;
        registered += db.GetUserID(name) != 0;
    }
    EXPECT_EQ(db.UserCount, registered);
    db.CloseDataBase();
    KvDataBase again;
    Open(again);
    for (const std::string& name : names)
        EXPECT_EQ(again.GetUserID(name), LookupInFile(image, 10241, name)) << name;
    EXPECT_EQ(again.UserCount, registered);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(KvDataBaseTest, ByPositionWritesStayOutOfIndexAndHeaderLines)
{
    KvDataBase db;
    Open(db);
    ASSERT_EQ(db.CreateUser("Ann", "", "", ""), 0);
    const std::string before = Image();
    EXPECT_FALSE(db.WriteValueByID(10305, "hijack")); // the user index entry of ann
    EXPECT_FALSE(db.WriteHeaderByID(18433, "x"));     // a block header
    EXPECT_FALSE(db.WriteHeaderByID(5, "x"));         // the global slots
    EXPECT_FALSE(db.WriteHeaderByID(18500, "x"));     // not the start of a line
    EXPECT_EQ(Image(), before);
    EXPECT_EQ(Errors.size(), 4u);
    EXPECT_EQ(db.GetUserID("ann"), 18497);
}

TEST_F(KvDataBaseTest, ChangedIndexLinesAreSeenByLookups)
{
    KvDataBase db;
    Open(db);
    ASSERT_EQ(db.CreateUser("Ann", "", "", ""), 0);
    ASSERT_EQ(db.CreateUser("Bob", "", "", ""), 0);
    // Growing the index rewrites the first block's link; lookups must follow the new chain.
    for (int i = 0; i < 70; ++i)
        ASSERT_EQ(db.CreateChannel("#c" + std::to_string(i), "Ann", ""), 0);
    for (int i = 0; i < 70; i += 7)
        EXPECT_EQ(db.RemoveChan("#C" + std::to_string(i)), 0);
    const std::string image = Image();
    for (int i = 0; i < 70; ++i) {
        const std::string name = "#c" + std::to_string(i);
        EXPECT_EQ(db.GetChanID(name), LookupInFile(image, 14337, name)) << name;
    }
    EXPECT_EQ(db.ChanCount, 60);
    EXPECT_EQ(db.GetUserID("bob"), LookupInFile(image, 10241, "bob"));
}
