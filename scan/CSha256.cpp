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
    const std::string text = hexText(digest, length);
    reset();
    return text;
}
