// Date and time helpers of the library: the UTC request stamp and the local offset from UTC.
#pragma once

#include <string>

#include "base/Exception.h"

namespace brv {

// A date and time as days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

// The platform could not tell the time-zone offset.
BRV_DECLARE_EXCEPTION(EIdFailedToRetreiveTimeZoneInfo, EIdException);

// The current local date and time.
TDateTime NowLocal();

// The offset of local time from UTC, as a fraction of a day (positive east of Greenwich),
// in force at the local time ALocalTime; zero means now. Raises
// EIdFailedToRetreiveTimeZoneInfo "Failed attempting to retrieve time zone information."
// when the platform cannot tell it.
TDateTime LocalOffsetFromUTC(TDateTime ALocalTime = 0);

// The UTC time stamp of a local date and time (zero means now) in the form yyyymmddThhnnssZ,
// for example 20210302T090507Z.
std::string UTCDateStamp(TDateTime ALocalTime = 0);

// The UTC time stamp yyyymmddThhnnssZ of a moment given in seconds since 1970-01-01 00:00 UTC.
std::string UTCDateStampOfUnixTime(long long AUnixSeconds);

// The local date and time of a moment given in seconds since 1970-01-01 00:00 UTC.
TDateTime LocalTimeOfUnixTime(long long AUnixSeconds);

}  // namespace brv
