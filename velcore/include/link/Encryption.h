#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vel {

constexpr std::size_t kCipherBlockSize = 16;
constexpr int kLinkKeyBits = 128;

// A byte-stream cipher for the TCP link: one stream for each direction, same key and IV.
class CEncryptAPI {
 public:
  virtual ~CEncryptAPI() = default;
  // Builds the key schedule from a key text of keySize / 4 hexadecimal digits. Returns false
  // when the text is not such a key; the object then must not be used.
  virtual bool init(const char* keyText, int keySize) = 0;
  // The sending stream's feedback register (16 bytes).
  virtual const std::uint8_t* getIV() const = 0;
  // Starts both streams from the 16-byte initialisation vector.
  virtual void setIV(const std::uint8_t* iv) = 0;
  // Enciphers the next `length` bytes of the sending stream; in and out may be the same bytes.
  virtual void encrypt(const std::uint8_t* in, int length, std::uint8_t* out) = 0;
  // Deciphers the next `length` bytes of the receiving stream.
  virtual void decrypt(const std::uint8_t* in, int length, std::uint8_t* out) = 0;
};

// Twofish-128 (libgcrypt, one ECB block per call) under a byte-wise CFB-128 stream in each
// direction: keystream block k is the encryption of the previous 16 ciphertext bytes of that
// direction (of the IV for k = 0).
class CWrapper_TwoFish final : public CEncryptAPI {
 public:
  CWrapper_TwoFish();
  ~CWrapper_TwoFish() override;
  CWrapper_TwoFish(const CWrapper_TwoFish&) = delete;
  CWrapper_TwoFish& operator=(const CWrapper_TwoFish&) = delete;

  bool init(const char* keyText, int keySize) override;
  const std::uint8_t* getIV() const override { return sendRegister_; }
  void setIV(const std::uint8_t* iv) override;
  void encrypt(const std::uint8_t* in, int length, std::uint8_t* out) override;
  void decrypt(const std::uint8_t* in, int length, std::uint8_t* out) override;

 private:
  void EncipherBlock(const std::uint8_t* in, std::uint8_t* out);

  void* handle_ = nullptr;  // gcry_cipher_hd_t, ECB
  std::uint8_t sendRegister_[kCipherBlockSize] = {};
  std::uint8_t receiveRegister_[kCipherBlockSize] = {};
  std::uint8_t receiveKeystream_[kCipherBlockSize] = {};
  int sendPosition_ = 0;     // unused bytes of the current sending keystream block
  int receivePosition_ = 0;  // unused bytes of the current receiving keystream block
};

}  // namespace vel
