#include <gtest/gtest.h>

#include "DbTestSupport.h"
#include "server/db/GlobalSlots.h"
#include "server/db/ItemValues.h"
#include "server/db/KDBHelp.h"

using namespace Kdb;

class KDBHelpTest : public DbTest
{
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        Open(DB);
    }

    // A chain of Count lines whose values are "v0", "v1", ...; returns its first line.
    std::int32_t MakeChain(int Count)
    {
        const std::int32_t first = DB.GetNextFreeLine();
        for (int v = 0; v < Count; ++v)
            EXPECT_EQ(DB.WriteValue(first, static_cast<std::int16_t>(v), "v" + std::to_string(v)), 0);
        return first;
    }

    std::vector<std::int32_t> Lines(std::int32_t First)
    {
        std::vector<std::int32_t> lines;
        for (std::int32_t p = First; p >= 2 && lines.size() < 100; p = DB.GetNextItem(p))
            lines.push_back(p);
        return lines;
    }

    KvDataBase DB;
};

TEST_F(KDBHelpTest, TruncateLeavesAOneLineChainUnchanged)
{
    const std::int32_t first = MakeChain(1);
    const std::string before = Image();
    TruncateChain(DB, first);
    EXPECT_EQ(Image(), before);
    EXPECT_EQ(DB.ReadValueByID(first), "v0");
}

TEST_F(KDBHelpTest, TruncateKeepsTheFirstLineEmptyAndFreesTheRest)
{
    const std::int32_t first = MakeChain(3);
    const std::vector<std::int32_t> lines = Lines(first);
    ASSERT_EQ(lines.size(), 3u);
    TruncateChain(DB, first);
    const std::string image = Image();
    EXPECT_EQ(At(image, first, 64), Field("1") + Field(""));
    EXPECT_EQ(At(image, lines[1], 64), std::string(64, ' '));
    EXPECT_EQ(At(image, lines[2], 64), std::string(64, ' '));
    EXPECT_EQ(DB.GetNextFreeLine(), lines[1]);
}

TEST_F(KDBHelpTest, FreeChainFreesEveryLine)
{
    const std::int32_t keep = MakeChain(2);
    const std::int32_t first = MakeChain(4);
    const std::vector<std::int32_t> lines = Lines(first);
    ASSERT_EQ(lines.size(), 4u);
    FreeChain(DB, first);
    const std::string image = Image();
    for (const std::int32_t line : lines)
        EXPECT_EQ(At(image, line, 64), std::string(64, ' ')) << line;
    EXPECT_EQ(Lines(keep).size(), 2u);
    EXPECT_EQ(DB.GetNextFreeLine(), first);
}

TEST_F(KDBHelpTest, HelpersStopOnALoopingChain)
{
    const std::int32_t first = MakeChain(3);
    const std::vector<std::int32_t> lines = Lines(first);
    ASSERT_TRUE(DB.WriteHeaderByID(lines[2], std::to_string(lines[1]))); // damage: the last line points back
    TruncateChain(DB, first);
    EXPECT_EQ(At(Image(), first, 64), Field("1") + Field(""));
    EXPECT_EQ(At(Image(), lines[2], 64), std::string(64, ' '));

    const std::int32_t other = MakeChain(2);
    ASSERT_TRUE(DB.WriteHeaderByID(Lines(other)[1], std::to_string(other)));
    FreeChain(DB, other);
    EXPECT_EQ(At(Image(), other, 64), std::string(64, ' '));
}

TEST_F(KDBHelpTest, NewSubChainStoresItsFirstLineInTheValue)
{
    ASSERT_EQ(DB.CreateUser("Ann", "pw", "", "en"), 0);
    const std::int32_t id = DB.GetUserID("ann");
    const std::int32_t head = NewSubChain(DB, id, UserValue::MemoChain);
    ASSERT_GE(head, 2);
    EXPECT_EQ(DB.GetSubItem(id, UserValue::MemoChain), head);
    EXPECT_EQ(At(Image(), head, 64), Field("1") + Field(""));

    const std::int32_t second = ExtendChain(DB, head);
    ASSERT_GE(second, 2);
    EXPECT_EQ(DB.GetNextItem(head), second);
    EXPECT_EQ(At(Image(), second, 32), Field("1"));
    EXPECT_EQ(Lines(head), (std::vector<std::int32_t>{head, second}));
}

TEST_F(KDBHelpTest, NewSubChainReachesAValueBeyondTheChain)
{
    const std::int32_t item = MakeChain(1);
    const std::int32_t head = NewSubChain(DB, item, 10);
    ASSERT_GE(head, 2);
    EXPECT_EQ(Lines(item).size(), 11u);
    EXPECT_EQ(DB.GetSubItem(item, 10), head);
}

TEST_F(KDBHelpTest, NewSlotChainStoresItsFirstLineInTheSlot)
{
    const std::int32_t head = NewSlotChain(DB, GlobalSlot::GLineChain);
    ASSERT_GE(head, 2);
    EXPECT_EQ(DB.GetGlobalVal(GlobalSlot::GLineChain), std::to_string(head));
    EXPECT_EQ(At(Image(), head, 64), Field("1") + Field(""));
}
