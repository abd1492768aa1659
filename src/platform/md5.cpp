#include "platform/md5.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace zafrel {

std::string md5Hex(const char* data, size_t size)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 no disponible");
    static const char hex[] = "0123456789abcdef";
    std::string out(length * 2, '0');
    for (unsigned int i = 0; i < length; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 0xf];
    }
    return out;
}

}  // namespace zafrel
