// AEAD_CHACHA20_POLY1305 as RFC 8439 defines it: the ChaCha20 block function and stream
// cipher, the Poly1305 one-time authenticator and the AEAD construction built from them.
//
// Owns: the cipher maths, the constant-time tag comparison and wiping of derived secrets.
// Does not own: any key (LookKey.h) or file format (LookFile.h).
// Nothing here allocates or throws. Every derived secret (one-time keys, key-stream blocks,
// authenticator state) is wiped before the function that made it returns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vd {

// Overwrites n bytes with zeros in a way the compiler may not drop.
void wipeBytes(void* data, std::size_t n);

// The quarter round on words a, b, c and d of a 16-word state.
void chachaQuarterRound(std::uint32_t state[16], int a, int b, int c, int d);

// One 64-byte block of key stream for the given block counter.
void chacha20Block(const std::uint8_t key[32], std::uint32_t counter, const std::uint8_t nonce[12],
                   std::uint8_t out[64]);

// XORs len bytes of key stream, starting with block `counter`, over in into out (in and out
// may be the same buffer). False, with out untouched, when the 32-bit block counter would
// wrap before len bytes are covered.
bool chacha20Xor(const std::uint8_t key[32], std::uint32_t counter, const std::uint8_t nonce[12],
                 const std::uint8_t* in, std::uint8_t* out, std::size_t len);

// Poly1305 over a message given in pieces of any size; the result is the same as over the
// whole message at once. The key is used for one message only.
class Poly1305 {
  public:
    explicit Poly1305(const std::uint8_t key[32]);
    ~Poly1305();
    Poly1305(const Poly1305&) = delete;
    Poly1305& operator=(const Poly1305&) = delete;

    void update(const std::uint8_t* data, std::size_t len);
    // Writes the tag; the object must not be updated afterwards.
    void finish(std::uint8_t tag[16]);

  private:
    void block(const std::uint8_t* m, std::uint32_t hibit);

    std::uint32_t r_[5];
    std::uint32_t h_[5] = {0, 0, 0, 0, 0};
    std::uint32_t pad_[4];
    std::uint8_t buffer_[16];
    std::size_t buffered_ = 0;
};

void poly1305Mac(const std::uint8_t key[32], const std::uint8_t* message, std::size_t len,
                 std::uint8_t tag[16]);

// The one-time Poly1305 key: the first 32 bytes of the block with counter 0.
void poly1305KeyGen(const std::uint8_t key[32], const std::uint8_t nonce[12],
                    std::uint8_t oneTimeKey[32]);

// Compares two tags in time that does not depend on where they differ.
bool tagsEqual(const std::uint8_t a[16], const std::uint8_t b[16]);

// Enciphers len bytes of plaintext into ciphertext (len bytes) and writes the tag over aad
// and the ciphertext. False when len exceeds what a 32-bit block counter can cover.
bool aeadSeal(const std::uint8_t key[32], const std::uint8_t nonce[12], const std::uint8_t* aad,
              std::size_t aadLen, const std::uint8_t* plaintext, std::size_t len,
              std::uint8_t* ciphertext, std::uint8_t tag[16]);

// Checks the tag over aad and the ciphertext first; only when it matches are len bytes of
// plaintext written. On false, plaintext has not been written to at all.
bool aeadOpen(const std::uint8_t key[32], const std::uint8_t nonce[12], const std::uint8_t* aad,
              std::size_t aadLen, const std::uint8_t* ciphertext, std::size_t len,
              const std::uint8_t tag[16], std::uint8_t* plaintext);

}  // namespace vd
