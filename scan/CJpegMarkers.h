#pragma once

#include <cstdint>

// JPEG marker codes: the byte after FF.
struct tagJpegMarker {
    static constexpr unsigned char kPrefix = 0xFF;
    static constexpr unsigned char kStuffed = 0x00; // FF 00: an FF data byte in entropy-coded data
    static constexpr unsigned char kTem = 0x01;
    static constexpr unsigned char kSof0 = 0xC0;
    static constexpr unsigned char kDht = 0xC4;
    static constexpr unsigned char kJpg = 0xC8;
    static constexpr unsigned char kDac = 0xCC;
    static constexpr unsigned char kSof15 = 0xCF;
    static constexpr unsigned char kRst0 = 0xD0;
    static constexpr unsigned char kRst7 = 0xD7;
    static constexpr unsigned char kSoi = 0xD8;
    static constexpr unsigned char kEoi = 0xD9;
    static constexpr unsigned char kSos = 0xDA;
    static constexpr unsigned char kDqt = 0xDB;
    static constexpr unsigned char kDnl = 0xDC;
    static constexpr unsigned char kDri = 0xDD;
    static constexpr unsigned char kApp0 = 0xE0;
    static constexpr unsigned char kApp1 = 0xE1;
    static constexpr unsigned char kApp2 = 0xE2;
    static constexpr unsigned char kApp15 = 0xEF;
    static constexpr unsigned char kCom = 0xFE;

    static bool isRestart(unsigned char m) { return m >= kRst0 && m <= kRst7; }
    static bool isApp(unsigned char m) { return m >= kApp0 && m <= kApp15; }
    // A start-of-frame marker: C0 to CF except DHT, JPG and DAC.
    static bool isFrame(unsigned char m) {
        return m >= kSof0 && m <= kSof15 && m != kDht && m != kJpg && m != kDac;
    }
    // A marker followed by a length field that may stand in a file's header
    // or between the scans of a progressive file.
    static bool isTableOrMisc(unsigned char m) {
        return m == kDht || m == kDac || m == kDqt || m == kDnl || m == kDri || isApp(m) ||
               m == kCom;
    }
    // Reads a big-endian 16-bit field.
    static uint32_t readBE16(const unsigned char* p) { return uint32_t(p[0]) << 8 | p[1]; }
};
