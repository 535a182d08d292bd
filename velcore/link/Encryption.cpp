#include "link/Encryption.h"

#include <gcrypt.h>

#include <algorithm>
#include <cstring>

#include "common/Gcrypt.h"
#include "link/KeyText.h"

namespace vel {

CWrapper_TwoFish::CWrapper_TwoFish() { InitialiseGcrypt(); }

CWrapper_TwoFish::~CWrapper_TwoFish() {
  if (handle_ != nullptr) gcry_cipher_close(static_cast<gcry_cipher_hd_t>(handle_));
}

bool CWrapper_TwoFish::init(const char* keyText, int keySize) {
  // A key that is not a key refuses quietly: the caller reports it, and key text never goes to
  // any output.
  std::uint8_t key[kCipherBlockSize];
  const std::string_view text = keyText != nullptr ? keyText : "";
  if (keySize != kLinkKeyBits || !ParseKeyBytes(text, key)) return false;
  gcry_cipher_hd_t handle = nullptr;
  if (gcry_cipher_open(&handle, GCRY_CIPHER_TWOFISH128, GCRY_CIPHER_MODE_ECB, 0) != 0 ||
      gcry_cipher_setkey(handle, key, sizeof key) != 0) {
    if (handle != nullptr) gcry_cipher_close(handle);
    std::memset(key, 0, sizeof key);
    return false;
  }
  if (handle_ != nullptr) gcry_cipher_close(static_cast<gcry_cipher_hd_t>(handle_));
  handle_ = handle;
  std::memset(key, 0, sizeof key);
  return true;
}

void CWrapper_TwoFish::setIV(const std::uint8_t* iv) {
  std::memcpy(sendRegister_, iv, kCipherBlockSize);
  std::memcpy(receiveRegister_, iv, kCipherBlockSize);
}

void CWrapper_TwoFish::EncipherBlock(const std::uint8_t* in, std::uint8_t* out) {
  if (handle_ == nullptr) {  // never keyed: produce nothing derived from a missing key
    std::memset(out, 0, kCipherBlockSize);
    return;
  }
  gcry_cipher_encrypt(static_cast<gcry_cipher_hd_t>(handle_), out, kCipherBlockSize, in,
                      kCipherBlockSize);
}

void CWrapper_TwoFish::encrypt(const std::uint8_t* in, int length, std::uint8_t* out) {
  int p = sendPosition_;
  for (int done = 0; done < length;) {
    if (p == 0) {
      std::uint8_t block[kCipherBlockSize];
      EncipherBlock(sendRegister_, block);
      std::memcpy(sendRegister_, block, kCipherBlockSize);
      p = kCipherBlockSize;
    }
    const int n = std::min(length - done, p);
    const int base = kCipherBlockSize - p;
    for (int i = 0; i < n; ++i) {
      const std::uint8_t c = in[done + i] ^ sendRegister_[base + i];
      sendRegister_[base + i] = c;
      out[done + i] = c;
    }
    done += n;
    p -= n;
  }
  sendPosition_ = p;
}

void CWrapper_TwoFish::decrypt(const std::uint8_t* in, int length, std::uint8_t* out) {
  int p = receivePosition_;
  for (int done = 0; done < length;) {
    if (p == 0) {
      EncipherBlock(receiveRegister_, receiveKeystream_);
      p = kCipherBlockSize;
    }
    const int n = std::min(length - done, p);
    const int base = kCipherBlockSize - p;
    for (int i = 0; i < n; ++i) {
      const std::uint8_t c = in[done + i];
      out[done + i] = receiveKeystream_[base + i] ^ c;
      receiveRegister_[base + i] = c;
    }
    done += n;
    p -= n;
  }
  receivePosition_ = p;
}

}  // namespace vel
