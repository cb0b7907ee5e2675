#include "apop.h"

#include <openssl/evp.h>

#include <cstring>

extern "C" __attribute__((visibility("default"))) void MDString(const char* texto, char* resultado)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int largo = 0;
    if (!texto || !resultado)
        return;
    if (EVP_Digest(texto, std::strlen(texto), digest, &largo, EVP_md5(), nullptr) != 1 || largo != 16) {
        resultado[0] = '\0';
        return;
    }
    static const char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < largo; ++i) {
        resultado[2 * i] = kHex[digest[i] >> 4];
        resultado[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
    resultado[32] = '\0';
}
