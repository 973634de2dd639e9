#pragma once

#include <cstddef>
#include <string>

struct evp_md_ctx_st;

// A SHA-256 digest computed piece by piece (OpenSSL's libcrypto).
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // Starts a new digest.
    void reset();
    void update(const unsigned char* data, size_t length);
    // The digest of everything given since reset, in lower-case hexadecimal.
    std::string hexDigest();

    static std::string of(const unsigned char* data, size_t length) {
        CSha256 digest;
        digest.update(data, length);
        return digest.hexDigest();
    }

private:
    // Lower-case hexadecimal of the digest's bytes.
    static std::string hexText(const unsigned char* bytes, size_t length) {
        static const char kHex[] = "0123456789abcdef";
        std::string text;
        for (size_t i = 0; i < length; ++i) {
            text += kHex[bytes[i] >> 4];
            text += kHex[bytes[i] & 0x0F];
        }
        return text;
    }

    evp_md_ctx_st* context;
};
