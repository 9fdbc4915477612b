// The crypto interface over Windows CNG (bcrypt).
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cwchar>
#include <utility>

#include "io/crypto.h"

namespace io {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// The algorithm providers, opened once for the whole run and shared by every call (CNG
// allows that from any thread). A provider that could not be opened stays null, and
// every operation on it fails.
class Providers {
 public:
  static const Providers& Get() {
    static const Providers providers;
    return providers;
  }
  BCRYPT_ALG_HANDLE sha1 = nullptr;
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  BCRYPT_ALG_HANDLE hmacSha1 = nullptr;
  BCRYPT_ALG_HANDLE aesEcb = nullptr;
  BCRYPT_ALG_HANDLE aesCbc = nullptr;

 private:
  Providers() {
    sha1 = Open(BCRYPT_SHA1_ALGORITHM, 0);
    sha256 = Open(BCRYPT_SHA256_ALGORITHM, 0);
    hmacSha1 = Open(BCRYPT_SHA1_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    aesEcb = OpenAes(BCRYPT_CHAIN_MODE_ECB);
    aesCbc = OpenAes(BCRYPT_CHAIN_MODE_CBC);
  }
  ~Providers() {
    for (BCRYPT_ALG_HANDLE h : {sha1, sha256, hmacSha1, aesEcb, aesCbc})
      if (h) BCryptCloseAlgorithmProvider(h, 0);
  }
  static BCRYPT_ALG_HANDLE Open(const wchar_t* algorithm, ULONG flags) {
    BCRYPT_ALG_HANDLE h = nullptr;
    return Succeeded(BCryptOpenAlgorithmProvider(&h, algorithm, nullptr, flags)) ? h : nullptr;
  }
  static BCRYPT_ALG_HANDLE OpenAes(const wchar_t* chainingMode) {
    BCRYPT_ALG_HANDLE h = Open(BCRYPT_AES_ALGORITHM, 0);
    if (h && !Succeeded(BCryptSetProperty(
                 h, BCRYPT_CHAINING_MODE,
                 reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(chainingMode)),
                 static_cast<ULONG>((wcslen(chainingMode) + 1) * sizeof(wchar_t)), 0))) {
      BCryptCloseAlgorithmProvider(h, 0);
      h = nullptr;
    }
    return h;
  }
};

// CNG takes lengths as ULONG: longer buffers go in pieces of this size.
constexpr std::size_t kPiece = std::size_t{1} << 30;

// A symmetric key object over one of the AES providers.
class AesKey {
 public:
  AesKey(BCRYPT_ALG_HANDLE provider, const Aes128Key& key) {
    if (provider &&
        !Succeeded(BCryptGenerateSymmetricKey(provider, &key_, nullptr, 0,
                                              const_cast<PUCHAR>(key.data()),
                                              static_cast<ULONG>(key.size()), 0)))
      key_ = nullptr;
  }
  ~AesKey() {
    if (key_) BCryptDestroyKey(key_);
  }
  AesKey(const AesKey&) = delete;
  AesKey& operator=(const AesKey&) = delete;
  BCRYPT_KEY_HANDLE get() const { return key_; }

 private:
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

std::optional<AesBlock> Aes128Block(bool encrypt, const Aes128Key& key, const AesBlock& block) {
  AesKey k(Providers::Get().aesEcb, key);
  if (!k.get()) return std::nullopt;
  AesBlock out{};
  ULONG written = 0;
  const auto call = encrypt ? BCryptEncrypt : BCryptDecrypt;
  if (!Succeeded(call(k.get(), const_cast<PUCHAR>(block.data()), kAesBlockSize, nullptr, nullptr,
                      0, out.data(), kAesBlockSize, &written, 0)) ||
      written != kAesBlockSize)
    return std::nullopt;
  return out;
}

// AES-128-CBC without padding over whole blocks, either way. CNG leaves the last
// ciphertext block in the IV buffer, which chains the pieces of a long buffer.
bool Aes128Cbc(bool encrypt, const Aes128Key& key, const AesBlock& iv,
               std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  if (in.size() % kAesBlockSize != 0 || out.size() != in.size()) return false;
  AesKey k(Providers::Get().aesCbc, key);
  if (!k.get()) return false;
  AesBlock chain = iv;
  constexpr std::size_t kCbcPiece = kPiece - kPiece % kAesBlockSize;
  const auto call = encrypt ? BCryptEncrypt : BCryptDecrypt;
  std::size_t done = 0;
  while (done < in.size()) {
    const std::size_t n = std::min(kCbcPiece, in.size() - done);
    ULONG written = 0;
    if (!Succeeded(call(k.get(), const_cast<PUCHAR>(in.data() + done), static_cast<ULONG>(n),
                        nullptr, chain.data(), static_cast<ULONG>(chain.size()),
                        out.data() + done, static_cast<ULONG>(n), &written, 0)) ||
        written != n)
      return false;
    done += n;
  }
  return true;
}

}  // namespace

struct Sha1::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash) BCryptDestroyHash(hash);
  }
};

Sha1::Sha1(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}

// The hash object's memory is left to CNG (no buffer is passed in).
Sha1::Sha1() : state_(std::make_unique<State>()) {
  BCRYPT_ALG_HANDLE provider = Providers::Get().sha1;
  if (!provider ||
      !Succeeded(BCryptCreateHash(provider, &state_->hash, nullptr, 0, nullptr, 0, 0)))
    state_.reset();
}

Sha1 Sha1::Hmac(std::span<const std::uint8_t> key) {
  auto state = std::make_unique<State>();
  BCRYPT_ALG_HANDLE provider = Providers::Get().hmacSha1;
  if (key.size() > kPiece ||
      !provider ||
      !Succeeded(BCryptCreateHash(provider, &state->hash, nullptr, 0,
                                  const_cast<PUCHAR>(key.data()), static_cast<ULONG>(key.size()),
                                  0)))
    state.reset();
  return Sha1(std::move(state));
}

Sha1::~Sha1() noexcept = default;
Sha1::Sha1(Sha1&& other) noexcept = default;
Sha1& Sha1::operator=(Sha1&& other) noexcept = default;

void Sha1::Update(std::span<const std::uint8_t> bytes) {
  while (state_ && !bytes.empty()) {
    const std::size_t n = std::min(kPiece, bytes.size());
    if (!Succeeded(BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes.data()),
                                  static_cast<ULONG>(n), 0)))
      state_.reset();
    bytes = bytes.subspan(n);
  }
}

std::optional<Sha1Digest> Sha1::Finish() {
  if (!state_) return std::nullopt;
  Sha1Digest digest{};
  const bool ok = Succeeded(
      BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  state_.reset();
  if (!ok) return std::nullopt;
  return digest;
}

std::optional<AesBlock> Aes128EncryptBlock(const Aes128Key& key, const AesBlock& block) {
  return Aes128Block(true, key, block);
}

std::optional<AesBlock> Aes128DecryptBlock(const Aes128Key& key, const AesBlock& block) {
  return Aes128Block(false, key, block);
}

bool Aes128CbcDecrypt(const Aes128Key& key, const AesBlock& iv, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out) {
  return Aes128Cbc(false, key, iv, in, out);
}

bool Aes128CbcEncrypt(const Aes128Key& key, const AesBlock& iv, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out) {
  return Aes128Cbc(true, key, iv, in, out);
}

std::optional<Sha256Digest> Sha256Of(std::span<const std::uint8_t> bytes) {
  BCRYPT_ALG_HANDLE provider = Providers::Get().sha256;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!provider || !Succeeded(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0)))
    return std::nullopt;
  bool ok = true;
  while (ok && !bytes.empty()) {
    const std::size_t n = std::min(kPiece, bytes.size());
    ok = Succeeded(BCryptHashData(hash, const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(n), 0));
    bytes = bytes.subspan(n);
  }
  Sha256Digest digest{};
  ok = ok && Succeeded(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  BCryptDestroyHash(hash);
  if (!ok) return std::nullopt;
  return digest;
}

}  // namespace io
