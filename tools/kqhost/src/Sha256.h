// Incremental SHA-256 (OpenSSL libcrypto).
#ifndef KQHOST_SHA256_H_
#define KQHOST_SHA256_H_

#include <cstddef>
#include <string>

struct evp_md_ctx_st;

namespace kqhost {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, size_t size);
  // The digest as 64 lowercase hex digits; the object is reset afterwards.
  std::string FinishHex();

  static std::string OfBytes(const void* data, size_t size);

 private:
  void Reset();
  evp_md_ctx_st* ctx_;
};

}  // namespace kqhost

#endif  // KQHOST_SHA256_H_
