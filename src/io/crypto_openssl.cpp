// The crypto interface over OpenSSL's libcrypto (version 3 EVP interfaces only).
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "io/crypto.h"

namespace io {

// A digest context for plain SHA-1, or a MAC context for HMAC: exactly one is set.
struct Sha1::State {
  EVP_MD_CTX* md = nullptr;
  EVP_MAC_CTX* mac = nullptr;
  ~State() {
    EVP_MD_CTX_free(md);
    EVP_MAC_CTX_free(mac);
  }
};

Sha1::Sha1(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}

Sha1::Sha1() : state_(std::make_unique<State>()) {
  state_->md = EVP_MD_CTX_new();
  if (!state_->md || EVP_DigestInit_ex(state_->md, EVP_sha1(), nullptr) != 1) state_.reset();
}

Sha1 Sha1::Hmac(std::span<const std::uint8_t> key) {
  auto state = std::make_unique<State>();
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr);
  if (mac) state->mac = EVP_MAC_CTX_new(mac);
  EVP_MAC_free(mac);  // the context keeps its own reference
  char digest[] = OSSL_DIGEST_NAME_SHA1;
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_END};
  // An empty key still needs a pointer: with none, OpenSSL would keep an earlier key.
  static const std::uint8_t kNoKey = 0;
  const std::uint8_t* keyBytes = key.empty() ? &kNoKey : key.data();
  if (!state->mac || EVP_MAC_init(state->mac, keyBytes, key.size(), params) != 1) state.reset();
  return Sha1(std::move(state));
}

Sha1::~Sha1() noexcept = default;
Sha1::Sha1(Sha1&& other) noexcept = default;
Sha1& Sha1::operator=(Sha1&& other) noexcept = default;

void Sha1::Update(std::span<const std::uint8_t> bytes) {
  if (!state_ || bytes.empty()) return;
  const bool ok = state_->md ? EVP_DigestUpdate(state_->md, bytes.data(), bytes.size()) == 1
                             : EVP_MAC_update(state_->mac, bytes.data(), bytes.size()) == 1;
  if (!ok) state_.reset();
}

std::optional<Sha1Digest> Sha1::Finish() {
  if (!state_) return std::nullopt;
  Sha1Digest digest{};
  bool ok;
  if (state_->md) {
    unsigned int length = 0;
    ok = EVP_DigestFinal_ex(state_->md, digest.data(), &length) == 1 && length == digest.size();
  } else {
    std::size_t length = 0;
    ok = EVP_MAC_final(state_->mac, digest.data(), &length, digest.size()) == 1 &&
         length == digest.size();
  }
  state_.reset();
  if (!ok) return std::nullopt;
  return digest;
}

namespace {

struct CipherContext {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  ~CipherContext() { EVP_CIPHER_CTX_free(ctx); }
};

// Runs AES-128 (ECB or CBC, without padding) over whole blocks.
bool RunAes(const EVP_CIPHER* cipher, bool encrypt, const Aes128Key& key, const std::uint8_t* iv,
            std::span<const std::uint8_t> in, std::uint8_t* out) {
  CipherContext c;
  if (!c.ctx || EVP_CipherInit_ex(c.ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(c.ctx, 0) != 1)
    return false;
  // The length of one update is an int: a long buffer goes in whole-block pieces.
  constexpr std::size_t kPiece = (INT_MAX / kAesBlockSize) * kAesBlockSize;
  std::size_t done = 0;
  while (done < in.size()) {
    const std::size_t n = std::min(kPiece, in.size() - done);
    int written = 0;
    if (EVP_CipherUpdate(c.ctx, out + done, &written, in.data() + done, static_cast<int>(n)) != 1 ||
        static_cast<std::size_t>(written) != n)
      return false;
    done += n;
  }
  int tail = 0;
  return EVP_CipherFinal_ex(c.ctx, out + done, &tail) == 1 && tail == 0;
}

}  // namespace

std::optional<AesBlock> Aes128EncryptBlock(const Aes128Key& key, const AesBlock& block) {
  AesBlock out{};
  if (!RunAes(EVP_aes_128_ecb(), true, key, nullptr, block, out.data())) return std::nullopt;
  return out;
}

std::optional<AesBlock> Aes128DecryptBlock(const Aes128Key& key, const AesBlock& block) {
  AesBlock out{};
  if (!RunAes(EVP_aes_128_ecb(), false, key, nullptr, block, out.data())) return std::nullopt;
  return out;
}

bool Aes128CbcDecrypt(const Aes128Key& key, const AesBlock& iv, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out) {
  if (in.size() % kAesBlockSize != 0 || out.size() != in.size()) return false;
  return RunAes(EVP_aes_128_cbc(), false, key, iv.data(), in, out.data());
}

bool Aes128CbcEncrypt(const Aes128Key& key, const AesBlock& iv, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out) {
  if (in.size() % kAesBlockSize != 0 || out.size() != in.size()) return false;
  return RunAes(EVP_aes_128_cbc(), true, key, iv.data(), in, out.data());
}

std::optional<Sha256Digest> Sha256Of(std::span<const std::uint8_t> bytes) {
  struct Context {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(ctx); }
  } c;
  Sha256Digest digest{};
  unsigned int length = 0;
  if (!c.ctx || EVP_DigestInit_ex(c.ctx, EVP_sha256(), nullptr) != 1 ||
      EVP_DigestUpdate(c.ctx, bytes.data(), bytes.size()) != 1 ||
      EVP_DigestFinal_ex(c.ctx, digest.data(), &length) != 1 || length != digest.size())
    return std::nullopt;
  return digest;
}

}  // namespace io
