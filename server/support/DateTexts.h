#pragma once
// The date and time forms that replies, the database and mails need. Dates are instants (see
// common/Clock.h) shown in the machine's local time.

#include "common/Clock.h"

#include <string>
#include <string_view>

// The up-time counter as whole seconds, read as a signed 32-bit millisecond value first: the form in
// which a connection keeps its IdleTime.
long UpTimeSeconds();
// Whole seconds since the moment whose tick seconds are given; a wrap of the counter in between is made
// good.
long IdleSeconds(long TickSeconds);
// Local time minus UTC, in seconds, at this moment (positive east of Greenwich).
long UtcOffset();
// Seconds since 1970-01-01 00:00 UTC; 0 for the zero date.
long UnixTime(Date LocalDate);
// "Sat Jan 7 09:05:03 2006", in local time.
std::string DateText(Date LocalDate);
// The current local time for a mail header: "Sat, 7 Jan 2006 09:05:03 +0100".
std::string MailDate();

// The date-time text stored in the database and shown to operators: "2006-01-07 09:05:03", local time;
// empty for the zero date.
std::string StoredDateText(Date LocalDate);
// Reads a text written by StoredDateText (surrounding spaces allowed). False, with Result the zero date,
// for anything that is not such a date.
bool ReadStoredDate(std::string_view Text, Date& Result);

// A number of seconds as its two largest units: "59 sec", "1 min, 0 sec", "1 d, 1 h".
std::string DurationText(double Seconds);
