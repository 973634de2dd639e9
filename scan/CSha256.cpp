#include "scan/CSha256.h"

#include <openssl/evp.h>

#include <new>

CSha256::CSha256() : context(EVP_MD_CTX_new()) {
    if (!context)
        throw std::bad_alloc();
    reset();
}

CSha256::~CSha256() {
    EVP_MD_CTX_free(context);
}

void CSha256::reset() {
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
}

void CSha256::update(const unsigned char* data, size_t length) {
    EVP_DigestUpdate(context, data, length);
}

std::string CSha256::hexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0F];
    }
    reset();
    return text;
}

std::string CSha256::of(const unsigned char* data, size_t length) {
    CSha256 digest;
    digest.update(data, length);
    return digest.hexDigest();
}
