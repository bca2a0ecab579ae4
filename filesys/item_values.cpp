#include "filesys/item_values.h"

#include <cstring>

namespace filesys {

namespace {

// A fixed text field of a record up to its terminator, or whole when a
// faulty record has none.
std::string fieldText(const char* field, size_t size) {
    const void* end = std::memchr(field, 0, size);
    return std::string(field, end ? static_cast<const char*>(end) - field : size);
}

const std::string& dirString(const WalkItem& item) {
    static const std::string kNone;
    return item.dir ? *item.dir : kNone;
}

int32_t bitForBit(uint32_t v) {
    int32_t r;
    std::memcpy(&r, &v, sizeof r);
    return r;
}

bool isLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned monthLength(unsigned year, unsigned month) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1899-12-30 to a valid date of the proleptic Gregorian calendar
// (negative before it). Years are counted from 1 March so that the leap
// day ends a year, in 400-year eras of 146097 days; day 0 of era 0 is
// 0000-03-01, which lies 693899 days before 1899-12-30.
int64_t daysSince18991230(unsigned year, unsigned month, unsigned day) {
    int64_t y = int64_t(year) - (month <= 2 ? 1 : 0);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yearOfEra = y - era * 400;                                                // [0, 399]
    int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;  // [0, 365]
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;    // [0, 146096]
    return era * 146097 + dayOfEra - 693899;
}

}  // namespace

std::string itemName(const WalkItem& item) { return fieldText(item.record.name, sizeof item.record.name); }

std::string itemExt(const WalkItem& item, LeadByteTest isLead) { return extensionPart(itemName(item), isLead); }

std::string itemPath(const WalkItem& item) { return dirString(item) + itemName(item); }

std::string itemDrive(const WalkItem& item, LeadByteTest isLead) { return drivePart(dirString(item), isLead); }

std::string itemDir(const WalkItem& item, LeadByteTest isLead) { return directoryPart(dirString(item), isLead); }

uint32_t itemAttributes(const WalkItem& item) { return item.record.attributes; }

int32_t itemFileSizeHigh(const WalkItem& item) { return bitForBit(item.record.sizeHigh); }

int32_t itemFileSize(const WalkItem& item) { return bitForBit(item.record.sizeLow); }

// ---- Dates ------------------------------------------------------------------

bool oleDateFromSystemTime(const platform::SystemTime& t, double* out) {
    if (t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > monthLength(t.year, t.month) ||
        t.hour > 23 || t.minute > 59 || t.second > 59)
        return false;
    int64_t days = daysSince18991230(t.year, t.month, t.day);
    // One division of whole seconds, so that the fraction is the double
    // nearest to the time of day (midday is exactly 0.5).
    double fraction = double(t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
    *out = days < 0 ? double(days) - fraction : double(days) + fraction;
    return true;
}

bool oleDateFromFileTime(uint64_t fileTime, double* out) {
    platform::SystemTime t;
    return platform::fileTimeToSystemTime(fileTime, &t) && oleDateFromSystemTime(t, out);
}

bool itemDate(const WalkItem& item, ItemTime which, double* out) {
    uint64_t fileTime = which == ItemTime::Created        ? item.record.creationTime
                        : which == ItemTime::LastAccessed ? item.record.lastAccessTime
                                                          : item.record.lastWriteTime;
    return oleDateFromFileTime(fileTime, out);
}

// ---- ShortName --------------------------------------------------------------

std::string itemShortName(platform::FindRecord* record, const ShortPathQuery& query) {
    char* field = record->alternateName;
    const uint32_t room = sizeof record->alternateName;  // 14: 8.3 and the terminator
    if (field[0] == 0 && query) {
        // The answer goes to a scratch buffer first: a failed call or one
        // that reports too little room may have left anything there, and
        // the record keeps only a complete name.
        char answer[sizeof record->alternateName + 1] = {};
        uint32_t n = query(fieldText(record->name, sizeof record->name).c_str(), answer, room);
        if (n > 0 && n < room && answer[n] == 0 && std::strlen(answer) == n) std::memcpy(field, answer, n + 1);
        else std::memset(field, 0, room);
    }
    return fieldText(field, room);
}

}  // namespace filesys
