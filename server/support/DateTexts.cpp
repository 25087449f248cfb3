#include "server/support/DateTexts.h"

#include "common/Text.h"

#include <cmath>
#include <ctime>

namespace
{

constexpr const char* WeekdayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A date too far out for the C library shows as the epoch rather than as garbage.
std::tm LocalParts(Date LocalDate)
{
    std::tm parts{};
    const std::time_t seconds = static_cast<std::time_t>(LocalDate);
    if (localtime_r(&seconds, &parts) == nullptr) {
        const std::time_t epoch = 0;
        localtime_r(&epoch, &parts);
    }
    return parts;
}

void AppendTwoDigits(std::string& Text, int Value)
{
    Text += static_cast<char>('0' + Value / 10 % 10);
    Text += static_cast<char>('0' + Value % 10);
}

void AppendYear(std::string& Text, int Year)
{
    const std::string digits = std::to_string(Year);
    if (digits.size() < 4) Text.append(4 - digits.size(), '0');
    Text += digits;
}

void AppendClock(std::string& Text, const std::tm& Parts)
{
    AppendTwoDigits(Text, Parts.tm_hour);
    Text += ':';
    AppendTwoDigits(Text, Parts.tm_min);
    Text += ':';
    AppendTwoDigits(Text, Parts.tm_sec);
}

// Fixed-width decimal field; no sign and no spaces, unlike from_chars or strtol.
bool ReadDigits(std::string_view Text, int& Value)
{
    Value = 0;
    for (const char c : Text) {
        if (c < '0' || c > '9') return false;
        Value = Value * 10 + (c - '0');
    }
    return true;
}

int DaysInMonth(int Year, int Month)
{
    constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0;
    return Month == 2 && leap ? 29 : days[Month - 1];
}

// Whole part of a duration. Far beyond any real up-time the value is capped, so that the
// conversions below stay defined for any input; NaN counts as nothing.
long long WholeSeconds(double Value)
{
    constexpr double limit = 1.0e15;
    if (!(Value > -limit)) return Value < 0 ? static_cast<long long>(-limit) : 0;
    if (Value > limit) return static_cast<long long>(limit);
    return static_cast<long long>(std::floor(Value));
}

} // namespace

long UpTimeSeconds()
{
    return TickCount() / 1000;
}

long IdleSeconds(long TickSeconds)
{
    // The counter is a signed 32-bit millisecond value, so it jumps by 2^32 ms when it wraps;
    // adding whole periods until the difference is no longer negative makes that good.
    constexpr double wrapSeconds = 4294967.296;
    double idle = TickCount() / 1000.0 - static_cast<double>(TickSeconds);
    if (idle < 0) idle += std::ceil(-idle / wrapSeconds) * wrapSeconds;
    idle = std::nearbyint(idle);
    constexpr double limit = 9.0e18;
    return static_cast<long>(idle < 0 ? 0 : (idle > limit ? limit : idle));
}

long UtcOffset()
{
    return LocalParts(Now()).tm_gmtoff;
}

long UnixTime(Date LocalDate)
{
    if (LocalDate == 0) return 0;
    // The offset in force now is taken, not the one of the date itself: a date from the other side
    // of a daylight-saving change comes out shifted by that hour, as it always has for our clients.
    const long localSeconds = static_cast<long>(LocalDate) + LocalParts(LocalDate).tm_gmtoff;
    return localSeconds - UtcOffset();
}

std::string DateText(Date LocalDate)
{
    const std::tm parts = LocalParts(LocalDate);
    std::string text;
    text += WeekdayNames[parts.tm_wday];
    text += ' ';
    text += MonthNames[parts.tm_mon];
    text += ' ';
    text += std::to_string(parts.tm_mday);
    text += ' ';
    AppendClock(text, parts);
    text += ' ';
    AppendYear(text, parts.tm_year + 1900);
    return text;
}

std::string MailDate()
{
    const std::tm parts = LocalParts(Now());
    const long offset = UtcOffset();
    const long offsetMinutes = (offset < 0 ? -offset : offset) / 60;
    std::string text;
    text += WeekdayNames[parts.tm_wday];
    text += ", ";
    text += std::to_string(parts.tm_mday);
    text += ' ';
    text += MonthNames[parts.tm_mon];
    text += ' ';
    AppendYear(text, parts.tm_year + 1900);
    text += ' ';
    AppendClock(text, parts);
    text += offset < 0 ? " -" : " +";
    AppendTwoDigits(text, static_cast<int>(offsetMinutes / 60));
    AppendTwoDigits(text, static_cast<int>(offsetMinutes % 60));
    return text;
}

std::string StoredDateText(Date LocalDate)
{
    if (LocalDate == 0) return "";
    const std::tm parts = LocalParts(LocalDate);
    std::string text;
    AppendYear(text, parts.tm_year + 1900);
    text += '-';
    AppendTwoDigits(text, parts.tm_mon + 1);
    text += '-';
    AppendTwoDigits(text, parts.tm_mday);
    text += ' ';
    AppendClock(text, parts);
    return text;
}

bool ReadStoredDate(std::string_view Text, Date& Result)
{
    Result = 0;
    const std::string_view text = TrimSpaces(Text);
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':')
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ReadDigits(text.substr(0, 4), year) || !ReadDigits(text.substr(5, 2), month) ||
        !ReadDigits(text.substr(8, 2), day) || !ReadDigits(text.substr(11, 2), hour) ||
        !ReadDigits(text.substr(14, 2), minute) || !ReadDigits(text.substr(17, 2), second))
        return false;
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    // The text carries no offset: in the hour that repeats when daylight saving ends, the C library
    // picks one of the two instants.
    parts.tm_isdst = -1;
    parts.tm_wday = -1; // mktime fills it in only when it succeeds; -1 is also a valid result
    const std::time_t seconds = std::mktime(&parts);
    if (parts.tm_wday < 0) return false;
    Result = static_cast<Date>(seconds);
    return true;
}

std::string DurationText(double Seconds)
{
    const long long days = WholeSeconds(Seconds / 86400);
    const long long hours = WholeSeconds(Seconds / 3600);
    const long long minutes = WholeSeconds(Seconds / 60);
    if (Seconds >= 86400) return std::to_string(days) + " d, " + std::to_string(hours - 24 * days) + " h";
    if (Seconds >= 3600)
        return std::to_string(hours) + " h, " + std::to_string(minutes - 60 * hours) + " min";
    if (Seconds >= 60)
        return std::to_string(minutes) + " min, " + std::to_string(WholeSeconds(Seconds) - 60 * minutes) +
               " sec";
    return std::to_string(WholeSeconds(Seconds)) + " sec";
}
