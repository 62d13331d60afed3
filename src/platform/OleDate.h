#pragma once
// Our stand-in for the automation date: days since 1899-12-30 as a double, fraction = time of day.
#include <cstdint>
#include <string>

namespace kestrane {

class COleDateTime {
public:
    enum Status { valid = 0, invalid = 1, null = 2 };

    COleDateTime() = default;
    explicit COleDateTime(double days) : days_(days) {}
    COleDateTime(int year, int month, int day, int hour, int minute, int second);

    // Sets from calendar fields; an out-of-range field makes the date invalid (and returns false).
    bool SetDateTime(int year, int month, int day, int hour, int minute, int second);

    double days() const { return days_; }
    Status GetStatus() const { return status_; }
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;

    // "YYYY-MM-DD HH:MM:SS"
    std::wstring ToIsoText() const;

    friend bool operator<(const COleDateTime& a, const COleDateTime& b) { return a.days_ < b.days_; }
    friend bool operator<=(const COleDateTime& a, const COleDateTime& b) { return a.days_ <= b.days_; }
    friend bool operator>(const COleDateTime& a, const COleDateTime& b) { return a.days_ > b.days_; }
    friend bool operator>=(const COleDateTime& a, const COleDateTime& b) { return a.days_ >= b.days_; }
    friend bool operator==(const COleDateTime& a, const COleDateTime& b) { return a.days_ == b.days_; }

private:
    struct Parts { int year, month, day, hour, minute, second; };
    Parts split() const;

    double days_ = 0;
    Status status_ = valid;
};

// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
int64_t DaysFromOleEpoch(int year, int month, int day);
// The civil date of a day count from 1899-12-30.
void CivilFromOleDays(int64_t days, int& year, int& month, int& day);

}  // namespace kestrane
