#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <stdexcept>

#include "ir/md5.h"

namespace koblib {

namespace {

void check(NTSTATUS status) {
    if (!BCRYPT_SUCCESS(status)) throw std::runtime_error("MD5 failed");
}

// Closes the provider and the hash on every way out.
struct Handles {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Handles() {
        if (hash != nullptr) BCryptDestroyHash(hash);
        if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

}  // namespace

Md5Digest md5(const void* data, std::size_t size) {
    auto bytes = static_cast<const UCHAR*>(data);
    Md5Digest digest{};
    Handles h;
    check(BCryptOpenAlgorithmProvider(&h.algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0));
    check(BCryptCreateHash(h.algorithm, &h.hash, nullptr, 0, nullptr, 0, 0));
    // BCryptHashData takes a ULONG length: feed larger inputs in pieces.
    while (size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        check(BCryptHashData(h.hash, const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
    check(BCryptFinishHash(h.hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    return digest;
}

}  // namespace koblib
