#include "server/support/DateTexts.h"

#include "common/Clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <string_view>

namespace
{

// POSIX zone rules, so the tests need no time zone database.
constexpr const char* UtcPlusOne = "<+01>-1";
constexpr const char* Utc = "UTC0";
constexpr const char* Berlin = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* NewYork = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char* Newfoundland = "<-0330>3:30";

// Sets TZ for one test and puts the old value back afterwards.
class TimeZoneGuard
{
public:
    TimeZoneGuard()
    {
        const char* old = std::getenv("TZ");
        HadZone = old != nullptr;
        if (HadZone) OldZone = old;
    }
    ~TimeZoneGuard()
    {
        if (HadZone)
            setenv("TZ", OldZone.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TimeZoneGuard(const TimeZoneGuard&) = delete;
    TimeZoneGuard& operator=(const TimeZoneGuard&) = delete;
    void Set(const char* Zone)
    {
        setenv("TZ", Zone, 1);
        tzset();
    }

private:
    bool HadZone = false;
    std::string OldZone;
};

class FakeClockGuard
{
public:
    FakeClockGuard() { SetClock(&Fake); }
    ~FakeClockGuard() { SetClock(nullptr); }
    FakeClockGuard(const FakeClockGuard&) = delete;
    FakeClockGuard& operator=(const FakeClockGuard&) = delete;
    void SetNow(Date Seconds) { Fake.Wall = Seconds * 1000; }
    FakeClock Fake;
};

} // namespace

struct DurationCase {
    double Seconds;
    std::string_view Text;
};
constexpr DurationCase DurationCases[] = {
    {0, "0 sec"},
    {59.9, "59 sec"},
    {60, "1 min, 0 sec"},
    {3599, "59 min, 59 sec"},
    {3600, "1 h, 0 min"},
    {86399, "23 h, 59 min"},
    {86400, "1 d, 0 h"}, // the smaller unit shows also when it
                         // is 0
    {90061, "1 d, 1 h"},
    {1000000, "11 d, 13 h"},
};
TEST(DurationText, Table)
{
    for (const DurationCase& c : DurationCases) {
        SCOPED_TRACE(std::to_string(c.Seconds));
        EXPECT_EQ(DurationText(c.Seconds), c.Text);
    }
}

struct DateTextCase {
    const char* Zone;
    Date When;
    std::string_view Text;
};
constexpr DateTextCase DateTextCases[] = {
    {UtcPlusOne, 1136621103, "Sat Jan 7 09:05:03 2006"}, {Utc, 1136621103, "Sat Jan 7 08:05:03 2006"},
    {UtcPlusOne, 1136070000, "Sun Jan 1 00:00:00 2006"}, {UtcPlusOne, 1167605999, "Sun Dec 31 23:59:59 2006"},
    {NewYork, 1167003000, "Sun Dec 24 18:30:00 2006"},
};
TEST(DateText, Table)
{
    TimeZoneGuard zone;
    for (const DateTextCase& c : DateTextCases) {
        SCOPED_TRACE(std::string(c.Zone) + " " + std::to_string(c.When));
        zone.Set(c.Zone);
        EXPECT_EQ(DateText(c.When), c.Text);
    }
}

struct MailDateCase {
    const char* Zone;
    Date Now;
    long Offset;
    std::string_view Text;
};
constexpr MailDateCase MailDateCases[] = {
    {UtcPlusOne, 1136621103, 3600, "Sat, 7 Jan 2006 09:05:03 +0100"},
    {Utc, 1136621103, 0, "Sat, 7 Jan 2006 08:05:03 +0000"}, // zero offset takes "+"
    {NewYork, 1167003000, -18000, "Sun, 24 Dec 2006 18:30:00 -0500"},
    {Newfoundland, 1136621103, -12600, "Sat, 7 Jan 2006 04:35:03 -0330"},
    {Berlin, 1152957600, 7200, "Sat, 15 Jul 2006 12:00:00 +0200"}, // summer time
};
TEST(MailDate, Table)
{
    TimeZoneGuard zone;
    FakeClockGuard clock;
    for (const MailDateCase& c : MailDateCases) {
        SCOPED_TRACE(std::string(c.Zone) + " " + std::to_string(c.Now));
        zone.Set(c.Zone);
        clock.SetNow(c.Now);
        EXPECT_EQ(UtcOffset(), c.Offset);
        EXPECT_EQ(MailDate(), c.Text);
    }
}

struct UnixTimeCase {
    const char* Zone;
    Date Now;
    Date LocalDate;
    long Expected;
};
constexpr UnixTimeCase UnixTimeCases[] = {
    {UtcPlusOne, 1136621103, 0, 0}, // unset, also 1970-01-01 01:00:00 at UTC+1
    {UtcPlusOne, 1136621103, 1, 1},
    {UtcPlusOne, 1136621103, 1167605999, 1167605999},
    {Utc, 1136621103, 1136621103, 1136621103},
    // The offset of the moment of the call counts, not that of the date.
    {Berlin, 1136621103, 1152957600, 1152957600 + 3600},
    {Berlin, 1152957600, 1136621103, 1136621103 - 3600},
};
TEST(UnixTime, Table)
{
    TimeZoneGuard zone;
    FakeClockGuard clock;
    for (const UnixTimeCase& c : UnixTimeCases) {
        SCOPED_TRACE(std::string(c.Zone) + " now " + std::to_string(c.Now) + " date " +
                     std::to_string(c.LocalDate));
        zone.Set(c.Zone);
        clock.SetNow(c.Now);
        EXPECT_EQ(UnixTime(c.LocalDate), c.Expected);
    }
}

struct IdleCase {
    std::int64_t EventUpMs, NowUpMs;
    long Idle;
};
constexpr IdleCase IdleCases[] = {
    {1'000'000, 1'000'000, 0},
    {1'000'700, 1'000'700, 1}, // the dropped fraction of the event's seconds rounds up
    {1'000'000, 1'090'000, 90},
    {2'147'483'000, 2'147'503'000, 20},                  // the 32-bit counter turns negative
    {2'147'484'648, 2'147'514'000, 29},                  // both negative
    {4'294'967'296 - 5'000, 4'294'967'296 + 15'000, 20}, // back through zero after 49.7 days
    {4'294'967'296 + 1'000, 4'294'967'296 + 1'000 + 3'600'000, 3600},
};
TEST(IdleSeconds, Table)
{
    FakeClockGuard clock;
    for (const IdleCase& c : IdleCases) {
        SCOPED_TRACE(std::to_string(c.EventUpMs) + " to " + std::to_string(c.NowUpMs));
        clock.Fake.UpMs = c.EventUpMs;
        const long eventSeconds = UpTimeSeconds();
        clock.Fake.UpMs = c.NowUpMs;
        EXPECT_EQ(IdleSeconds(eventSeconds), c.Idle);
    }
}

struct StoredDateCase {
    const char* Zone;
    Date When;
    std::string_view Text;
};
constexpr StoredDateCase StoredDateCases[] = {
    {UtcPlusOne, 1136621103, "2006-01-07 09:05:03"}, {Utc, 1136621103, "2006-01-07 08:05:03"},
    {UtcPlusOne, 1709247599, "2024-02-29 23:59:59"}, {Berlin, 1152957600, "2006-07-15 12:00:00"},
    {NewYork, 1167003000, "2006-12-24 18:30:00"},    {UtcPlusOne, -3600, "1970-01-01 00:00:00"},
};
TEST(StoredDate, WrittenAndReadBack)
{
    TimeZoneGuard zone;
    for (const StoredDateCase& c : StoredDateCases) {
        SCOPED_TRACE(std::string(c.Zone) + " " + std::string(c.Text));
        zone.Set(c.Zone);
        EXPECT_EQ(StoredDateText(c.When), c.Text);
        Date read = 0;
        EXPECT_TRUE(ReadStoredDate(c.Text, read));
        EXPECT_EQ(read, c.When);
    }
}

TEST(StoredDate, ZeroDateIsEmptyText)
{
    EXPECT_EQ(StoredDateText(0), "");
}

struct ReadDateCase {
    std::string_view Text;
    bool IsDate;
    Date When;
};
constexpr ReadDateCase ReadDateCases[] = {
    {"2006-01-07 09:05:03", true, 1136621103},
    {"  2006-01-07 09:05:03  ", true, 1136621103}, // database values may come padded
    {"2000-02-29 00:00:00", true, 951778800},
    {"", false, 0},
    {"2006-01-07", false, 0},
    {"2006-01-07 09:05", false, 0},
    {"2006-1-07 09:05:03", false, 0},
    {"2006-01-07T09:05:03", false, 0},
    {"2006/01/07 09:05:03", false, 0},
    {"2006-01-07 09:05:03x", false, 0},
    {"+006-01-07 09:05:03", false, 0},
    {"2006-01-07 9:05:03 ", false, 0},
    {"0000-01-01 00:00:00", false, 0},
    {"2006-00-07 09:05:03", false, 0},
    {"2006-13-07 09:05:03", false, 0},
    {"2006-02-29 09:05:03", false, 0},
    {"1900-02-29 09:05:03", false, 0},
    {"2006-04-31 09:05:03", false, 0},
    {"2006-01-07 24:00:00", false, 0},
    {"2006-01-07 09:60:03", false, 0},
    {"2006-01-07 09:05:60", false, 0},
    {"Sat Jan 7 09:05:03 2006", false, 0},
};
TEST(ReadStoredDate, Table)
{
    TimeZoneGuard zone;
    zone.Set(UtcPlusOne);
    for (const ReadDateCase& c : ReadDateCases) {
        SCOPED_TRACE("\"" + std::string(c.Text) + "\"");
        Date read = 12345; // a failed read leaves the zero date, not what was there
        EXPECT_EQ(ReadStoredDate(c.Text, read), c.IsDate);
        EXPECT_EQ(read, c.When);
    }
}
