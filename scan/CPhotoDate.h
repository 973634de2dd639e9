#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// When a photo was taken, from its Exif data (libexif): DateTimeOriginal,
// or DateTime when that is missing. Exif dates carry no time zone; with an
// OffsetTimeOriginal (OffsetTime) beside them they are read in that zone,
// otherwise as this computer's local time, as cameras keep their clocks.
class CPhotoDate {
public:
    // Bytes looked at from the start of a JPEG: the Exif segment follows
    // the start of image closely and is at most 64 KiB long.
    static constexpr size_t kHeadBytes = 256 * 1024;

    // The date of the JPEG whose first length bytes are given; false when
    // it has no usable date.
    static bool read(const unsigned char* jpeg, size_t length, time_t& when);
    // "YYYY:MM:DD HH:MM:SS", with an offset such as "+02:00" or "" for local
    // time; false for blank, zero or impossible dates.
    static bool parse(const std::string& date, const std::string& offset, time_t& when);
};
