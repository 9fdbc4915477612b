// The crypto interface over Mbed TLS (2.28), the library the browser build compiles in:
// its message-digest layer for SHA-1, HMAC and SHA-256, its AES for the ciphers.
#include <mbedtls/aes.h>
#include <mbedtls/md.h>

#include <utility>

#include "io/crypto.h"

namespace io {

// A message-digest context, plain or keyed for HMAC.
struct Sha1::State {
  mbedtls_md_context_t md;
  bool hmac = false;
  State() { mbedtls_md_init(&md); }
  ~State() { mbedtls_md_free(&md); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
};

namespace {

const mbedtls_md_info_t* Sha1Info() { return mbedtls_md_info_from_type(MBEDTLS_MD_SHA1); }

}  // namespace

Sha1::Sha1(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}

Sha1::Sha1() : state_(std::make_unique<State>()) {
  const mbedtls_md_info_t* info = Sha1Info();
  if (!info || mbedtls_md_setup(&state_->md, info, 0) != 0 || mbedtls_md_starts(&state_->md) != 0)
    state_.reset();
}

Sha1 Sha1::Hmac(std::span<const std::uint8_t> key) {
  auto state = std::make_unique<State>();
  state->hmac = true;
  const mbedtls_md_info_t* info = Sha1Info();
  // An empty key still needs a pointer to hand over.
  static const std::uint8_t kNoKey = 0;
  const std::uint8_t* keyBytes = key.empty() ? &kNoKey : key.data();
  if (!info || mbedtls_md_setup(&state->md, info, 1) != 0 ||
      mbedtls_md_hmac_starts(&state->md, keyBytes, key.size()) != 0)
    state.reset();
  return Sha1(std::move(state));
}

Sha1::~Sha1() noexcept = default;
Sha1::Sha1(Sha1&& other) noexcept = default;
Sha1& Sha1::operator=(Sha1&& other) noexcept = default;

void Sha1::Update(std::span<const std::uint8_t> bytes) {
  if (!state_ || bytes.empty()) return;
  const int r = state_->hmac ? mbedtls_md_hmac_update(&state_->md, bytes.data(), bytes.size())
                             : mbedtls_md_update(&state_->md, bytes.data(), bytes.size());
  if (r != 0) state_.reset();
}

std::optional<Sha1Digest> Sha1::Finish() {
  if (!state_) return std::nullopt;
  Sha1Digest digest{};
  const int r = state_->hmac ? mbedtls_md_hmac_finish(&state_->md, digest.data())
                             : mbedtls_md_finish(&state_->md, digest.data());
  state_.reset();
  if (r != 0) return std::nullopt;
  return digest;
}

namespace {

// An AES context that frees itself.
struct AesContext {
  mbedtls_aes_context ctx;
  AesContext() { mbedtls_aes_init(&ctx); }
  ~AesContext() { mbedtls_aes_free(&ctx); }
  AesContext(const AesContext&) = delete;
  AesContext& operator=(const AesContext&) = delete;

  bool SetKey(const Aes128Key& key, bool encrypt) {
    constexpr unsigned kBits = kAes128KeySize * 8;
    return (encrypt ? mbedtls_aes_setkey_enc(&ctx, key.data(), kBits)
                    : mbedtls_aes_setkey_dec(&ctx, key.data(), kBits)) == 0;
  }
};

std::optional<AesBlock> AesBlockOf(const Aes128Key& key, const AesBlock& block, bool encrypt) {
  AesContext c;
  AesBlock out{};
  if (!c.SetKey(key, encrypt) ||
      mbedtls_aes_crypt_ecb(&c.ctx, encrypt ? MBEDTLS_AES_ENCRYPT : MBEDTLS_AES_DECRYPT, block.data(),
                            out.data()) != 0)
    return std::nullopt;
  return out;
}

bool AesCbc(bool encrypt, const Aes128Key& key, const AesBlock& iv, std::span<const std::uint8_t> in,
            std::span<std::uint8_t> out) {
  if (in.size() % kAesBlockSize != 0 || out.size() != in.size()) return false;
  AesContext c;
  if (!c.SetKey(key, encrypt)) return false;
  AesBlock chain = iv;  // Mbed TLS moves the IV along as it goes
  return mbedtls_aes_crypt_cbc(&c.ctx, encrypt ? MBEDTLS_AES_ENCRYPT : MBEDTLS_AES_DECRYPT, in.size(),
                               chain.data(), in.data(), out.data()) == 0;
}

}  // namespace

std::optional<AesBlock> Aes128EncryptBlock(const Aes128Key& key, const AesBlock& block) {
  return AesBlockOf(key, block, true);
}

std::optional<AesBlock> Aes128DecryptBlock(const Aes128Key& key, const AesBlock& block) {
  return AesBlockOf(key, block, false);
}

bool Aes128CbcDecrypt(const Aes128Key& key, const AesBlock& iv, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out) {
  return AesCbc(false, key, iv, in, out);
}

bool Aes128CbcEncrypt(const Aes128Key& key, const AesBlock& iv, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out) {
  return AesCbc(true, key, iv, in, out);
}

std::optional<Sha256Digest> Sha256Of(std::span<const std::uint8_t> bytes) {
  const mbedtls_md_info_t* info = mbedtls_md_info_from_type(MBEDTLS_MD_SHA256);
  Sha256Digest digest{};
  if (!info || mbedtls_md(info, bytes.data(), bytes.size(), digest.data()) != 0) return std::nullopt;
  return digest;
}

}  // namespace io
