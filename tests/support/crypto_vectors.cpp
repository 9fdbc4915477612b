#include "support/crypto_vectors.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "io/crypto.h"

namespace crypto_vectors {

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string ToHex(std::span<const std::uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

struct HashVector {
  const char* name;
  bool hmac;
  Bytes key;
  Bytes message;
  const char* digest;
};

std::vector<HashVector> HashVectors() {
  Bytes counting(25);
  for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i + 1);
  return {
      {"SHA-1 abc", false, {}, Text("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"SHA-1 448-bit message", false, {},
       Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"SHA-1 empty", false, {}, {}, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"HMAC-SHA1 RFC 2202 case 1", true, Bytes(20, 0x0b), Text("Hi There"),
       "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"HMAC-SHA1 RFC 2202 case 2", true, Text("Jefe"), Text("what do ya want for nothing?"),
       "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {"HMAC-SHA1 RFC 2202 case 3", true, Bytes(20, 0xaa), Bytes(50, 0xdd),
       "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {"HMAC-SHA1 RFC 2202 case 4", true, counting, Bytes(50, 0xcd),
       "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {"HMAC-SHA1 RFC 2202 case 5", true, Bytes(20, 0x0c), Text("Test With Truncation"),
       "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {"HMAC-SHA1 RFC 2202 case 6, key longer than a block", true, Bytes(80, 0xaa),
       Text("Test Using Larger Than Block-Size Key - Hash Key First"),
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {"HMAC-SHA1 RFC 2202 case 7, key and data longer than a block", true, Bytes(80, 0xaa),
       Text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
      {"HMAC-SHA1 empty key, empty message", true, {}, {},
       "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d"},
  };
}

template <std::size_t N>
std::optional<std::string> HexOf(const std::optional<std::array<std::uint8_t, N>>& value) {
  if (!value) return std::nullopt;
  return ToHex(*value);
}

// Feeds the message in pieces whose lengths cycle through `pieces`.
std::optional<io::Sha1Digest> HashInPieces(const HashVector& v,
                                           std::span<const std::size_t> pieces) {
  io::Sha1 sha = v.hmac ? io::Sha1::Hmac(v.key) : io::Sha1();
  std::span<const std::uint8_t> rest(v.message);
  for (std::size_t k = 0; !rest.empty(); ++k) {
    const std::size_t n = std::min(pieces[k % pieces.size()], rest.size());
    sha.Update(rest.first(n));
    rest = rest.subspan(n);
  }
  return sha.Finish();
}

template <std::size_t N>
std::array<std::uint8_t, N> Array(const std::string& hex) {
  std::array<std::uint8_t, N> out{};
  const Bytes bytes = Hex(hex);
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return out;
}

}  // namespace

std::vector<std::string> RunAll(int& checks) {
  std::vector<std::string> failures;
  auto expect = [&](const std::string& what, const std::optional<std::string>& got,
                    const std::string& want) {
    ++checks;
    if (!got)
      failures.push_back(what + ": the call failed");
    else if (*got != want)
      failures.push_back(what + ": got " + *got + ", want " + want);
  };
  static const std::size_t kOneByOne[] = {1};
  static const std::size_t kUneven[] = {3, 0, 17, 64, 1, 30};
  for (const HashVector& v : HashVectors()) {
    const std::string name = v.name;
    expect(name + ", whole",
                 HexOf(v.hmac ? io::HmacSha1Of(v.key, v.message) : io::Sha1Of(v.message)),
                 v.digest);
    expect(name + ", byte by byte", HexOf(HashInPieces(v, kOneByOne)), v.digest);
    expect(name + ", uneven pieces", HexOf(HashInPieces(v, kUneven)), v.digest);
  }

  const auto aesKey = Array<16>("000102030405060708090a0b0c0d0e0f");
  const std::string plain = "00112233445566778899aabbccddeeff";
  const std::string cipher = "69c4e0d86a7b0430d8cdb78070b4c55a";
  expect("AES-128 FIPS-197 C.1 encrypt",
               HexOf(io::Aes128EncryptBlock(aesKey, Array<16>(plain))), cipher);
  expect("AES-128 FIPS-197 C.1 decrypt",
               HexOf(io::Aes128DecryptBlock(aesKey, Array<16>(cipher))), plain);

  const auto cbcKey = Array<16>("2b7e151628aed2a6abf7158809cf4f3c");
  const auto cbcIv = Array<16>("000102030405060708090a0b0c0d0e0f");
  const Bytes cbcCipher = Hex(
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
  const std::string cbcPlain =
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
  Bytes out(cbcCipher.size());
  expect("AES-128-CBC SP 800-38A F.2.2 decrypt",
               io::Aes128CbcDecrypt(cbcKey, cbcIv, cbcCipher, out)
                   ? std::optional<std::string>(ToHex(out))
                   : std::nullopt,
               cbcPlain);
  Bytes inPlace = cbcCipher;
  expect("AES-128-CBC SP 800-38A F.2.2 decrypt in place",
               io::Aes128CbcDecrypt(cbcKey, cbcIv, inPlace, inPlace)
                   ? std::optional<std::string>(ToHex(inPlace))
                   : std::nullopt,
               cbcPlain);
  const Bytes plainBytes = Hex(cbcPlain);
  Bytes sealed(plainBytes.size());
  expect("AES-128-CBC SP 800-38A F.2.1 encrypt",
         io::Aes128CbcEncrypt(cbcKey, cbcIv, plainBytes, sealed)
             ? std::optional<std::string>(ToHex(sealed))
             : std::nullopt,
         ToHex(cbcCipher));
  Bytes sealedInPlace = plainBytes;
  expect("AES-128-CBC SP 800-38A F.2.1 encrypt in place",
         io::Aes128CbcEncrypt(cbcKey, cbcIv, sealedInPlace, sealedInPlace)
             ? std::optional<std::string>(ToHex(sealedInPlace))
             : std::nullopt,
         ToHex(cbcCipher));

  const std::pair<Bytes, const char*> sha256[] = {
      {Text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {{}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {Bytes(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [message, digest] : sha256)
    expect("SHA-256 FIPS 180 of " + std::to_string(message.size()) + " bytes",
           HexOf(io::Sha256Of(message)), digest);
  return failures;
}

}  // namespace crypto_vectors
