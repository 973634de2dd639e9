#pragma once

#include "platform/win32/CIoctlChannel.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

// Control requests answered from a table of recorded answers: the bytes a
// driver gave back for each code, or the error it failed with. Codes not in
// the table fail as drivers fail unknown requests.
class CRecordedIoctl : public CIoctlChannel {
public:
    static constexpr uint32_t kInvalidFunction = 1; // ERROR_INVALID_FUNCTION

    void answer(uint32_t code, std::vector<unsigned char> bytes) { answers[code] = {bytes, 0}; }
    template <typename T> void answer(uint32_t code, const T& value) {
        std::vector<unsigned char> bytes(sizeof value);
        std::memcpy(bytes.data(), &value, sizeof value);
        answer(code, bytes);
    }
    void fail(uint32_t code, uint32_t error) { answers[code] = {{}, error}; }

    bool control(uint32_t code, const void*, uint32_t, void* output, uint32_t outputSize,
                 uint32_t& returned, uint32_t& error) override {
        asked.push_back(code);
        returned = 0;
        const auto found = answers.find(code);
        if (found == answers.end()) {
            error = kInvalidFunction;
            return false;
        }
        error = found->second.error;
        if (error)
            return false;
        // A driver gives back no more than the caller has room for.
        returned = uint32_t(std::min<size_t>(found->second.bytes.size(), outputSize));
        if (returned)
            std::memcpy(output, found->second.bytes.data(), returned);
        return true;
    }

    std::vector<uint32_t> asked;

private:
    struct tagAnswer {
        std::vector<unsigned char> bytes;
        uint32_t error = 0;
    };
    std::map<uint32_t, tagAnswer> answers;
};
