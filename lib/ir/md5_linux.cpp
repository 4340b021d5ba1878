#include <openssl/evp.h>

#include <stdexcept>

#include "ir/md5.h"

namespace koblib {

Md5Digest md5(const void* data, std::size_t size) {
    static const std::uint8_t none = 0;
    Md5Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(data != nullptr ? data : &none, size, digest.data(), &length, EVP_md5(),
                   nullptr) != 1 ||
        length != digest.size()) {
        throw std::runtime_error("MD5 failed");
    }
    return digest;
}

}  // namespace koblib
