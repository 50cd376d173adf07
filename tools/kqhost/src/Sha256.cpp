#include "Sha256.h"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>

#include "Text.h"

namespace kqhost {

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_ == nullptr) throw std::bad_alloc();
  Reset();
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::Reset() {
  if (EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) throw std::runtime_error("SHA-256 initialisation failed");
}

void Sha256::Update(const void* data, size_t size) {
  if (size == 0) return;
  if (EVP_DigestUpdate(ctx_, data, size) != 1) throw std::runtime_error("SHA-256 update failed");
}

std::string Sha256::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(ctx_, digest, &len) != 1) throw std::runtime_error("SHA-256 finalisation failed");
  Reset();
  return ToHex(digest, len);
}

std::string Sha256::OfBytes(const void* data, size_t size) {
  Sha256 h;
  h.Update(data, size);
  return h.FinishHex();
}

}  // namespace kqhost
