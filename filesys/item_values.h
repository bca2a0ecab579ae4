// The values an Item of the file-system helper hands out, worked out from
// what a walk step gave it (the find record and the Dir string of its
// folder). All text is ANSI; the COM layer turns it into BSTRs and maps a
// false result of the date functions to E_FAIL.
//
//   Name        the record's name
//   Ext         the name's extension by path splitting, dot included; empty
//               when it has none ("Report.Final.doc" -> ".doc")
//   Path        Dir string followed by the name (relative when the walk
//               runs in the current folder; a folder's has no trailing "\")
//   Drive       the Dir string's drive ("C:"), empty for UNC or relative
//   Dir         the Dir string's directory without the drive, with its
//               trailing "\" ("\data\sub\")
//   Attributes  the record's attribute word, not masked
//   FileSize, FileSizeHigh  the size words bit for bit as signed 32-bit
//               numbers: from 2 GiB up FileSize is negative
//   ShortName   the record's 8.3 name, asked of the system when the file
//               system left it empty (itemShortName)
//   Dates       the record's FILETIMEs (UTC, never made local time) as OLE
//               Automation dates, milliseconds dropped (itemDate)
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "filesys/item_walk.h"
#include "filesys/path_split.h"
#include "support/platform.h"

namespace filesys {

std::string itemName(const WalkItem& item);
std::string itemExt(const WalkItem& item, LeadByteTest isLead = nullptr);
std::string itemPath(const WalkItem& item);
std::string itemDrive(const WalkItem& item, LeadByteTest isLead = nullptr);
std::string itemDir(const WalkItem& item, LeadByteTest isLead = nullptr);
uint32_t itemAttributes(const WalkItem& item);
int32_t itemFileSizeHigh(const WalkItem& item);
int32_t itemFileSize(const WalkItem& item);

// ---- Dates ------------------------------------------------------------------

// Calendar fields as an OLE Automation date: days since 1899-12-30 plus
// the time of day as a fraction of a day, the fraction subtracted instead
// for days before 1899-12-30 (so -1.25 is 1899-12-29 06:00). Milliseconds
// and the day of week are ignored. False, with *out untouched, for a year
// above 9999, a month outside 1..12, day 0 or a day beyond the month's
// length (29 February only in leap years), an hour above 23, a minute or
// second above 59.
bool oleDateFromSystemTime(const platform::SystemTime& t, double* out);

// A FILETIME (UTC, no conversion to local time) as an OLE Automation date:
// platform::fileTimeToSystemTime, then oleDateFromSystemTime. False when
// either step fails (from 0x8000000000000000 up the first one does; from
// the year 10000 on the second).
bool oleDateFromFileTime(uint64_t fileTime, double* out);

enum class ItemTime { Created, LastAccessed, LastModified };

// DateCreated, DateLastAccessed, DateLastModified.
bool itemDate(const WalkItem& item, ItemTime which, double* out);

// ---- ShortName --------------------------------------------------------------

// Asks the system for the short form of a path, with the contract of
// platform::shortPathName (length on success, the room needed when out is
// too small, 0 on failure).
using ShortPathQuery = std::function<uint32_t(const char* path, char* out, uint32_t room)>;

// The record's alternate (8.3) name. When the file system supplied one it
// is returned unchanged. When it is empty (as the file system leaves it for
// a name that already fits 8.3) the system is asked with the bare name (so
// it resolves the name against the process's current folder, not the
// item's folder) for at most 13 characters, and the answer is kept in the
// record's field. A failed or too long answer leaves the field empty and
// gives an empty text; the next call asks again.
std::string itemShortName(platform::FindRecord* record, const ShortPathQuery& query = platform::shortPathName);

}  // namespace filesys
