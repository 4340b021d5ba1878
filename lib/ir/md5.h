// MD5 (RFC 1321) from the system's cryptography: CNG on Windows, OpenSSL's
// libcrypto elsewhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace koblib {

using Md5Digest = std::array<std::uint8_t, 16>;

// The digest of size bytes at data (data may be null when size is 0).
// Throws std::runtime_error when the system cannot compute it.
Md5Digest md5(const void* data, std::size_t size);

}  // namespace koblib
