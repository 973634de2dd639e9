// The Windows side of CSha256: the system's own SHA-256 (CNG, bcrypt).
#include "scan/CSha256.h"

#include <new>
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

// The hash object and its handles.
struct evp_md_ctx_st {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

CSha256::CSha256() : context(new evp_md_ctx_st) {
    if (::BCryptOpenAlgorithmProvider(&context->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) !=
        0) {
        delete context;
        throw std::bad_alloc();
    }
    reset();
}

CSha256::~CSha256() {
    if (context->hash)
        ::BCryptDestroyHash(context->hash);
    ::BCryptCloseAlgorithmProvider(context->algorithm, 0);
    delete context;
}

void CSha256::reset() {
    if (context->hash)
        ::BCryptDestroyHash(context->hash);
    context->hash = nullptr;
    if (::BCryptCreateHash(context->algorithm, &context->hash, nullptr, 0, nullptr, 0, 0) != 0)
        throw std::bad_alloc();
}

void CSha256::update(const unsigned char* data, size_t length) {
    while (length > 0) {
        const ULONG piece = ULONG(length > 0x40000000 ? 0x40000000 : length);
        ::BCryptHashData(context->hash, const_cast<PUCHAR>(data), piece, 0);
        data += piece;
        length -= piece;
    }
}

std::string CSha256::hexDigest() {
    unsigned char digest[32];
    ::BCryptFinishHash(context->hash, digest, sizeof digest, 0);
    const std::string text = hexText(digest, sizeof digest);
    reset();
    return text;
}
