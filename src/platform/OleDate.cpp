#include "platform/OleDate.h"

#include <cmath>
#include <cstdio>

namespace kestrane {

namespace {
// Howard Hinnant's days-from-civil, counted from 1970-01-01.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
constexpr int64_t kOleEpochFromUnix = -25569;  // 1899-12-30 relative to 1970-01-01
}  // namespace

int64_t DaysFromOleEpoch(int year, int month, int day) {
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kOleEpochFromUnix;
}

void CivilFromOleDays(int64_t days, int& year, int& month, int& day) {
    int64_t z = days + kOleEpochFromUnix + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute, int second) {
    SetDateTime(year, month, day, hour, minute, second);
}

bool COleDateTime::SetDateTime(int year, int month, int day, int hour, int minute, int second) {
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > kMonthDays[month - 1] + (month == 2 && leap) || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
        status_ = invalid;
        days_ = 0;
        return false;
    }
    double d = static_cast<double>(DaysFromOleEpoch(year, month, day));
    double t = (hour * 3600 + minute * 60 + second) / 86400.0;
    // Automation dates before the epoch keep the time as a positive fraction away from zero.
    days_ = d >= 0 ? d + t : d - t;
    status_ = valid;
    return true;
}

COleDateTime::Parts COleDateTime::split() const {
    double whole = std::trunc(days_);
    double frac = std::fabs(days_ - whole);
    int64_t secs = static_cast<int64_t>(std::llround(frac * 86400.0));
    int64_t day = static_cast<int64_t>(whole);
    if (secs >= 86400) { secs -= 86400; day += days_ >= 0 ? 1 : -1; }
    Parts p{};
    CivilFromOleDays(day, p.year, p.month, p.day);
    p.hour = static_cast<int>(secs / 3600);
    p.minute = static_cast<int>((secs / 60) % 60);
    p.second = static_cast<int>(secs % 60);
    return p;
}

int COleDateTime::GetYear() const { return split().year; }
int COleDateTime::GetMonth() const { return split().month; }
int COleDateTime::GetDay() const { return split().day; }
int COleDateTime::GetHour() const { return split().hour; }
int COleDateTime::GetMinute() const { return split().minute; }
int COleDateTime::GetSecond() const { return split().second; }

std::wstring COleDateTime::ToIsoText() const {
    Parts p = split();
    wchar_t buf[64];
    std::swprintf(buf, 64, L"%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    return buf;
}

}  // namespace kestrane
