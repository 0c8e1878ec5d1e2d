// SHA-256 (FIPS 180-4), used by the look writer to derive each file's nonce from the look's
// id and contents.
//
// Owns: the hash only. Does not own: what is hashed (LookWriter.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vd {

// Hashes a message given in pieces of any size; the digest equals that of the whole.
class Sha256 {
  public:
    Sha256();
    void update(const std::uint8_t* data, std::size_t len);
    // Writes the digest; the object must not be updated afterwards.
    void finish(std::uint8_t digest[32]);

  private:
    void block(const std::uint8_t* p);

    std::uint32_t state_[8];
    std::uint64_t length_ = 0;  // bytes hashed so far
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
};

}  // namespace vd
