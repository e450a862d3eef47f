// SHA-256 through OpenSSL's digest interface, read under the mapping's fault guard.
#include "engine/input/file_hash.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "engine/input/fault_guard.h"
#include "text/integer_syntax.h"

namespace veskor {

std::optional<std::string> Sha256Hex(const uint8_t* data, uint64_t size,
                                     const std::function<bool()>& go_on) {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return {};
  EVP_MD_CTX* const digest = context.get();
  bool updated = true;
  // The guarded body keeps nothing that needs unwinding: a fault abandons it mid-update, and the
  // context is then only freed.
  const bool read = ReadMapped([&] {
    constexpr uint64_t kPiece = uint64_t{1} << 24;
    for (uint64_t at = 0; at < size && updated; at += kPiece) {
      updated = (!go_on || go_on()) &&
                EVP_DigestUpdate(digest, data + at, std::min(kPiece, size - at)) == 1;
    }
  });
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!read || !updated || EVP_DigestFinal_ex(digest, hash, &length) != 1) return {};
  return LowerHex(std::string_view(reinterpret_cast<const char*>(hash), length));
}

}  // namespace veskor
