#include "scan/CPhotoDate.h"

#include <libexif/exif-data.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// The text of an ASCII entry, up to its terminator.
std::string entryText(ExifData* data, ExifIfd ifd, ExifTag tag) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
    if (!entry || entry->format != EXIF_FORMAT_ASCII || !entry->data)
        return {};
    const char* text = reinterpret_cast<const char*>(entry->data);
    const size_t size = entry->size;
    return std::string(text, std::find(text, text + size, '\0'));
}

// "+HH:MM" or "-HH:MM" in seconds east of UTC.
bool parseOffset(const std::string& offset, long& seconds) {
    int hours = 0, minutes = 0;
    char sign = 0, end = 0;
    if (offset.size() != 6 ||
        std::sscanf(offset.c_str(), "%c%2d:%2d%c", &sign, &hours, &minutes, &end) != 3)
        return false;
    if ((sign != '+' && sign != '-') || hours > 14 || minutes > 59)
        return false;
    seconds = (long(hours) * 60 + minutes) * 60 * (sign == '-' ? -1 : 1);
    return true;
}

} // namespace

bool CPhotoDate::parse(const std::string& date, const std::string& offset, time_t& when) {
    int year, month, day, hour, minute, second;
    char end = 0;
    if (date.size() != 19 || date[4] != ':' || date[7] != ':' || date[13] != ':' ||
        std::sscanf(date.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                    &second, &end) != 6)
        return false;
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 59 || hour < 0 || minute < 0 || second < 0)
        return false;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    long east = 0;
    if (parseOffset(offset, east)) {
        when = timegm(&parts) - east;
    } else {
        parts.tm_isdst = -1;
        when = std::mktime(&parts);
    }
    // A day the month does not have (31 April) comes back moved on.
    return parts.tm_mday == day && parts.tm_mon == month - 1;
}

bool CPhotoDate::read(const unsigned char* jpeg, size_t length, time_t& when) {
    const unsigned int size = unsigned(std::min(length, kHeadBytes));
    std::unique_ptr<ExifData, void (*)(ExifData*)> data(exif_data_new_from_data(jpeg, size),
                                                        exif_data_unref);
    if (!data)
        return false;
    return parse(entryText(data.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL),
                 entryText(data.get(), EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME_ORIGINAL), when) ||
           parse(entryText(data.get(), EXIF_IFD_0, EXIF_TAG_DATE_TIME),
                 entryText(data.get(), EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME), when);
}
