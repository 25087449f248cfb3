// The rank table read from Rank.cfg, CheckRang, and SETOP with the operator levels.

#include "server/channels/Ranks.h"

#include "server/channels/IRCChannel.h"
#include "server/core/IRCServer.h"
#include "server/core/Langw.h"
#include "server/core/TextIds.h"
#include "server/irc/IRCConnection.h"
#include "support_lib/InProcessServer.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace
{

struct Cell {
    int Rank, Skill;
    std::uint8_t Grant;
};

struct RankFileCase {
    std::string_view Name;
    std::vector<std::string_view> Lines;
    std::vector<Cell> Granted; // every other cell stays 0
};

const RankFileCase RankFileCases[] = {
    {"operators with signed list modes",
     {">o", "mode t", "mode +b", "mode -v", "kick", "topic"},
     {{3, 3, 1}, {3, 9, 3}, {3, 10, 2}, {3, 16, 1}, {3, 17, 1}}},
    {"a sign on a flag mode does not limit it", {">v", "mode +m", "mode -k"}, {{1, 1, 1}, {1, 7, 1}}},
    {"grants before the first header have no rank", {"kick", "mode o", ">h", "speak"}, {{2, 15, 1}}},
    {"an unknown header keeps the rank", {">a", ">x", "register"}, {{4, 19, 1}}},
    {"a header alone keeps the rank", {">q", ">", "changepassword"}, {{5, 18, 1}}},
    {"headers and words in any case, spaces around",
     {">Q", "  KICK  ", "Mode   +q", ">-", "Speak"},
     {{5, 16, 1}, {5, 14, 3}, {6, 15, 1}}},
    {"mode letters only in lower case", {">o", "mode O", "mode X", "mode"}, {}},
    {"other words and near misses are ignored", {">o", "kicker", "topics x", "# mode o", ""}, {}},
    {"the first word decides, the last letter is the mode",
     {">h", "mode of voice v", "speak loudly"},
     {{2, 10, 1}, {2, 15, 1}}},
};

TEST(ReadRankLine, Table)
{
    for (const RankFileCase& c : RankFileCases) {
        SCOPED_TRACE(std::string(c.Name));
        RankTable skills{};
        int rank = 0;
        for (std::string_view line : c.Lines)
            ReadRankLine(line, rank, skills);
        RankTable expected{};
        for (const Cell& cell : c.Granted)
            expected[static_cast<std::size_t>(cell.Rank)][static_cast<std::size_t>(cell.Skill)] = cell.Grant;
        EXPECT_EQ(skills, expected);
    }
}

TEST(SlotRank, StrongestStatusDecides)
{
    ChannelSlot slot;
    EXPECT_EQ(SlotRank(slot), ChanRank::None);
    slot.StatusV = true;
    EXPECT_EQ(SlotRank(slot), ChanRank::Voice);
    slot.StatusQ = true; // q with v is still q
    EXPECT_EQ(SlotRank(slot), ChanRank::Owner);
    slot = ChannelSlot{};
    slot.StatusH = true;
    slot.StatusO = true;
    EXPECT_EQ(SlotRank(slot), ChanRank::Op);
}

TEST(LoadRankValues, ReloadAddsGrantsButNeverTakesThemAway)
{
    InProcessServer server;
    IRCServer& irc = *server.Server;
    irc.RankSkills = {};
    const std::string path = server.Dir.File("Ranks2.cfg");
    server.Dir.Write("Ranks2.cfg", ">v\r\nspeak\r\nkick\r\n");
    irc.LoadRankValues(path);
    EXPECT_EQ(irc.GetRankSkills(Skill::Kick, ChanRank::Voice), SkillGrant::Both);
    server.Dir.Write("Ranks2.cfg", ">v\r\nspeak\r\n>h\r\ntopic\r\n");
    irc.LoadRankValues(path);
    EXPECT_EQ(irc.GetRankSkills(Skill::Kick, ChanRank::Voice), SkillGrant::Both);
    EXPECT_EQ(irc.GetRankSkills(Skill::Topic, ChanRank::HalfOp), SkillGrant::Both);
    irc.LoadRankValues(server.Dir.File("Missing.cfg")); // a missing file changes nothing
    EXPECT_EQ(irc.GetRankSkills(Skill::Speak, ChanRank::Voice), SkillGrant::Both);
    // Out of range asks get nothing rather than reading beside the table.
    EXPECT_EQ(irc.GetRankSkills(0, ChanRank::Voice), SkillGrant::Denied);
    EXPECT_EQ(irc.GetRankSkills(20, ChanRank::Voice), SkillGrant::Denied);
    EXPECT_EQ(irc.GetRankSkills(Skill::Speak, 7), SkillGrant::Denied);
}

TEST(CheckRang, OwnerMayDoEverythingEvenFromOutside)
{
    InProcessServer server;
    IRCServer& irc = *server.Server;
    irc.RankSkills = {}; // nobody but the owner may do anything
    TestClient ann = server.RegisteredClient("Ann");
    TestClient bob = server.RegisteredClient("Bob");
    bob.Send("JOIN #owned");
    bob.Expect(" 366 ");
    IRCChannel& chan = *irc.FindOpenChannel("#owned");
    IRCConnection& annConn = *irc.FindConnByNick("Ann", ConnState::Registered);
    IRCConnection& bobConn = *irc.FindConnByNick("Bob", ConnState::Registered);
    EXPECT_FALSE(bobConn.CheckRang(chan, ChanMode::Op, false)); // operator, but the table is empty
    EXPECT_FALSE(annConn.CheckRang(chan, Skill::Kick, false));
    chan.Owner = "ANN";
    annConn.IdentNick = "Ann";
    EXPECT_TRUE(annConn.CheckRang(chan, Skill::Kick, false));
    EXPECT_TRUE(annConn.CheckRang(chan, ChanMode::Owner, true));
    EXPECT_FALSE(annConn.CheckRang(chan, 0, false));
    annConn.IdentNick.clear();
}

TEST(CheckRang, SignedGrantsGiveOneDirection)
{
    InProcessServer server;
    IRCServer& irc = *server.Server;
    irc.RankSkills = {};
    TestClient ann = server.RegisteredClient("Ann");
    ann.Send("JOIN #signs");
    ann.Expect(" 366 ");
    IRCChannel& chan = *irc.FindOpenChannel("#signs");
    IRCConnection& annConn = *irc.FindConnByNick("Ann", ConnState::Registered);
    auto& row = irc.RankSkills[ChanRank::Op];
    row[ChanMode::Op] = SkillGrant::SetOnly;
    row[ChanMode::Voice] = SkillGrant::RemoveOnly;
    row[ChanMode::Ban] = SkillGrant::Both;
    EXPECT_TRUE(annConn.CheckRang(chan, ChanMode::Op, false));
    EXPECT_FALSE(annConn.CheckRang(chan, ChanMode::Op, true));
    EXPECT_FALSE(annConn.CheckRang(chan, ChanMode::Voice, false));
    EXPECT_TRUE(annConn.CheckRang(chan, ChanMode::Voice, true));
    EXPECT_TRUE(annConn.CheckRang(chan, ChanMode::Ban, true));
    EXPECT_FALSE(annConn.CheckRang(chan, ChanMode::HalfOp, true));
    ann.Send("PART #signs");
    ann.Expect(" PART ");
    EXPECT_FALSE(annConn.CheckRang(chan, ChanMode::Ban, true)); // members only
}

struct SetOpCase {
    std::string_view Name;
    int Own, Theirs;
    std::string_view Command;
    std::string Reply;                // Ann's answer, after the server name
    std::vector<std::string> BobSees; // MODE lines, after ":Ann "
    int Level;                        // Bob's level afterwards
};

TEST(SetOp, LevelsActOnlyDownwards)
{
    LoadLanguages(std::string(KORV_FIXTURES_DIR) + "/");
    const std::string given = "NOTICE Ann :" + GetLangText(TextOperLevelGiven, 0, "Bob", "O");
    const SetOpCase cases[] = {
        {"no operator", 0, 0, "SETOP Bob O", "481 Ann :" + GetLangText(TextNoPrivileges, 0), {}, 0},
        {"A grants O", 1, 0, "SETOP Bob o", given, {"MODE Bob +O"}, 3},
        {"A moves O to C",
         1,
         3,
         "SETOP Bob +c",
         "NOTICE Ann :" + GetLangText(TextOperLevelGiven, 0, "Bob", "C"),
         {"MODE Bob -O", "MODE Bob +C"},
         2},
        {"A takes C",
         1,
         2,
         "SETOP Bob -C",
         "NOTICE Ann :" + GetLangText(TextOperLevelRemoved, 0, "Bob", "C"),
         {"MODE Bob -C"},
         0},
        {"taking a level he has not does nothing", 1, 2, "SETOP Bob -O", "", {}, 2},
        {"C grants O", 2, 0, "SETOP Bob O", given, {"MODE Bob +O"}, 3},
        {"C grants O again: nothing", 2, 3, "SETOP Bob O", "", {}, 3},
        {"C may not grant C", 2, 0, "SETOP Bob C", "481 Ann :" + GetLangText(TextNoPrivileges, 0), {}, 0},
        {"C may not act on A", 2, 1, "SETOP Bob O", "481 Ann :" + GetLangText(TextNoPrivileges, 0), {}, 1},
        {"O changes no level", 3, 0, "SETOP Bob O", "481 Ann :" + GetLangText(TextNoPrivileges, 0), {}, 0},
        {"unknown letter", 1, 0, "SETOP Bob X", "472 Ann X :" + GetLangText(TextUnknownMode, 0), {}, 0},
        {"offline nick", 1, 0, "SETOP Nobody O", "403 Ann Nobody :" + GetLangText(TextNoSuchUser, 0), {}, 0},
    };
    for (const SetOpCase& c : cases) {
        SCOPED_TRACE(std::string(c.Name));
        InProcessServer server;
        TestClient ann = server.RegisteredClient("Ann");
        TestClient bob = server.RegisteredClient("Bob");
        IRCConnection& annConn = *server.Server->FindConnByNick("Ann", ConnState::Registered);
        IRCConnection& bobConn = *server.Server->FindConnByNick("Bob", ConnState::Registered);
        annConn.ServerOpModes = c.Own;
        bobConn.ServerOpModes = c.Theirs;
        ann.Send(c.Command);
        const std::vector<std::string> annSaw = ann.Sync();
        if (c.Reply.empty()) {
            EXPECT_EQ(annSaw, std::vector<std::string>{});
        } else {
            ASSERT_EQ(annSaw.size(), 1U);
            EXPECT_EQ(annSaw[0].substr(annSaw[0].find(' ') + 1), c.Reply);
        }
        std::vector<std::string> expected;
        for (const std::string& line : c.BobSees)
            expected.push_back(":Ann " + line);
        EXPECT_EQ(bob.Sync(), expected);
        EXPECT_EQ(bobConn.ServerOpModes, c.Level);
    }
}

} // namespace

namespace
{

// The first joiner of a new channel is its operator: the shipped ranks must let him run it, and
// give half-operators and voiced members what users expect of them.
TEST(ShippedRanks, OperatorsRunTheirChannel)
{
    InProcessServer server;
    IRCServer& irc = *server.Server;
    irc.RankSkills = {};
    irc.LoadRankValues(std::string(KORV_DATA_DIR) + "/Rank.cfg");
    for (int skill = ChanMode::Moderated; skill <= ChanMode::Op; ++skill) {
        SCOPED_TRACE(skill);
        EXPECT_EQ(irc.GetRankSkills(skill, ChanRank::Op), SkillGrant::Both);
    }
    for (int skill : {Skill::Speak, Skill::Kick, Skill::Topic, Skill::Register})
        EXPECT_EQ(irc.GetRankSkills(skill, ChanRank::Op), SkillGrant::Both) << skill;
    for (int skill : {static_cast<int>(ChanMode::Voice), Skill::Kick, Skill::Topic})
        EXPECT_EQ(irc.GetRankSkills(skill, ChanRank::HalfOp), SkillGrant::Both) << skill;
    EXPECT_EQ(irc.GetRankSkills(Skill::Speak, ChanRank::Voice), SkillGrant::Both);
    EXPECT_EQ(irc.GetRankSkills(Skill::Kick, ChanRank::None), SkillGrant::Denied);
}

} // namespace
