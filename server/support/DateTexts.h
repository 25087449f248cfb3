#pragma once
// Placeholder interface until the date texts land.
#include "common/Clock.h"
#include <string>
#include <string_view>
long IdleSeconds(long TickSeconds);
long UtcOffset();
long UnixTime(Date LocalDate);
std::string DateText(Date LocalDate);
std::string MailDate();
std::string StoredDateText(Date LocalDate);
bool ReadStoredDate(std::string_view Text, Date& Result);
std::string DurationText(double Seconds);
