// The crypto interface, zlib streams, CodeBreaker bodies and PS3 export signatures.
#include <gtest/gtest.h>

#include <algorithm>

#include "formats/cbs/cbs_body.h"
#include "formats/cbs/zlib_stream.h"
#include "formats/psv/psv_sign.h"
#include "io/crypto.h"
#include "model/bytes.h"
#include "support/alloc_probe.h"
#include "support/crypto_vectors.h"
#include "support/test_util.h"

using testutil::Bytes;

namespace {

// Feeds `bytes` to `sink` in pieces of 1, 2, 3, ... bytes.
template <typename Sink>
void FeedUnevenly(Sink& sink, std::span<const std::uint8_t> bytes) {
  for (std::size_t n = 1; !bytes.empty(); ++n) {
    const std::size_t take = std::min(n, bytes.size());
    sink.Update(bytes.first(take));
    bytes = bytes.subspan(take);
  }
}

}  // namespace

TEST(Crypto, KnownAnswerVectors) {
  int checks = 0;
  for (const std::string& failure : crypto_vectors::RunAll(checks)) ADD_FAILURE() << failure;
  EXPECT_EQ(checks, 43);
}

TEST(Crypto, FinishedComputationGivesNothingMore) {
  io::Sha1 sha;
  sha.Update(testutil::FromString("abc"));
  ASSERT_TRUE(sha.Finish());
  sha.Update(testutil::FromString("abc"));
  EXPECT_FALSE(sha.Finish());
  Bytes odd(17);
  EXPECT_FALSE(io::Aes128CbcDecrypt({}, {}, odd, odd)) << "not whole blocks";
  EXPECT_FALSE(io::Aes128CbcEncrypt({}, {}, odd, odd)) << "not whole blocks";
  Bytes shorter(16);
  EXPECT_FALSE(io::Aes128CbcEncrypt({}, {}, Bytes(32), shorter)) << "output shorter than input";
}

TEST(Zlib, DamagedStreamsAreRefused) {
  const Bytes data = testutil::FromString(std::string(3000, 'x') + "the end of the records");
  const Bytes good = *ZlibDeflate(data);
  const auto size = static_cast<std::uint32_t>(data.size());
  auto edit = [&](auto change) {
    Bytes b = good;
    change(b);
    return b;
  };
  struct Case {
    const char* why;
    Bytes stream;
    std::uint32_t declared;
    InflateResult want;
  };
  const Case cases[] = {
      {"intact", good, size, InflateResult::kOk},
      {"cut inside the Adler-32", Bytes(good.begin(), good.end() - 1), size,
       InflateResult::kTruncated},
      {"cut inside the deflate data", Bytes(good.begin(), good.begin() + 8), size,
       InflateResult::kTruncated},
      {"no bytes at all", {}, 0, InflateResult::kTruncated},
      {"wrong Adler-32", edit([](Bytes& b) { b.back() ^= 1; }), size, InflateResult::kBadCheck},
      {"inflates past the declared size", good, size - 1, InflateResult::kTooLong},
      {"holds nothing where one byte is declared", *ZlibDeflate({}), 1,
       InflateResult::kTooShort},
      {"ends before the declared size", good, size + 1, InflateResult::kTooShort},
      {"declared size over the cap", good, zstream::kMaxInflated + 1, InflateResult::kOverCap},
      {"declared size more than the stream could hold", good,
       static_cast<std::uint32_t>(zstream::kMaxExpansion * good.size() + 1),
       InflateResult::kImplausible},
      {"a byte after the stream", edit([](Bytes& b) { b.push_back(0); }), size,
       InflateResult::kTrailingData},
      {"header check fails", edit([](Bytes& b) { b[1] ^= 1; }), size, InflateResult::kDamaged},
      {"reserved block type", edit([](Bytes& b) { b[2] |= 6; }), size, InflateResult::kDamaged},
  };
  for (const Case& c : cases) {
    testutil::AllocationProbe probe;
    Bytes out = {1, 2, 3};
    EXPECT_EQ(ZlibInflate(c.stream, c.declared, out), c.want) << c.why;
    EXPECT_LT(probe.largest(), std::size_t{1} << 20) << c.why;
    if (c.want == InflateResult::kOk)
      EXPECT_EQ(out, data) << c.why;
    else
      EXPECT_TRUE(out.empty()) << c.why;
  }
}

TEST(CodeBreakerBody, RealBodiesDecodeAndReencodeByteForByte) {
  for (const char* name : {"cbs/a.cbs", "cbs/h.cbs", "cbs/i.cbs"}) {
    REQUIRE_CORPUS(path, name);
    const Bytes file = testutil::ReadFile(path);
    ASSERT_GT(file.size(), 0x128u) << name;
    const std::uint32_t declared = bytes::GetU32LE(file.data() + 0x0C);
    const std::span<const std::uint8_t> body(file.begin() + 0x128, file.end());
    Bytes records;
    ASSERT_EQ(cbs::DecodeBody(body, declared, records), InflateResult::kOk) << name;
    const auto files = cbs::ParseRecords(records);
    ASSERT_TRUE(files) << name;
    std::uint64_t sum = 0;
    for (const cbs::Record& r : *files) sum += cbs::kRecordHeadSize + r.data.size();
    EXPECT_EQ(sum, declared) << name;
    EXPECT_EQ(cbs::BuildRecords(*files), records) << name;
    const auto again = cbs::EncodeBody(records);
    ASSERT_TRUE(again) << name;
    EXPECT_TRUE(std::equal(again->begin(), again->end(), body.begin(), body.end())) << name;
  }
}

// Two records; a prefix parses only when it ends at a record boundary.
TEST(CodeBreakerBody, RecordsTruncationSweep) {
  const Bytes data = testutil::MakeBytes(100, 5);
  cbs::Record a;
  a.name = "icon.sys";
  a.created = {1, 2, 3, 4, 5, 6, 7, 8};
  a.data = std::span(data).first(30);
  cbs::Record b;
  b.name = std::string(32, 'N');
  b.mode = 0x8417;
  b.data = std::span(data);
  const Bytes records = *cbs::BuildRecords(std::vector{a, b});
  ASSERT_EQ(records.size(), 64 + 30 + 64 + 100u);
  for (std::size_t n = 0; n <= records.size(); ++n) {
    const auto files = cbs::ParseRecords(std::span(records).first(n));
    const bool boundary = n == 0 || n == 94 || n == records.size();
    ASSERT_EQ(files.has_value(), boundary) << "prefix " << n;
  }
  const auto files = *cbs::ParseRecords(records);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].created, a.created);
  EXPECT_EQ(files[1].name, b.name);
  EXPECT_EQ(files[1].mode, 0x8417u);
  EXPECT_TRUE(std::ranges::equal(files[1].data, data));
  Bytes back;
  ASSERT_EQ(cbs::DecodeBody(*cbs::EncodeBody(records), static_cast<std::uint32_t>(records.size()),
                            back),
            InflateResult::kOk);
  EXPECT_EQ(back, records);
  b.name += 'N';
  EXPECT_FALSE(cbs::BuildRecords(std::vector{a, b})) << "a 33-byte name";
}

TEST(Ps3Signature, RealExportsVerifyAndResign) {
  for (const char* name : {"psv/a.psv", "psv/k.psv", "psv/j-ps1.psv"}) {
    REQUIRE_CORPUS(path, name);
    Bytes file = testutil::ReadFile(path);
    ASSERT_GE(file.size(), psv::kHeaderSize) << name;
    EXPECT_EQ(psv::Verify(file), psv::SignatureCheck::kValid) << name;
    const Bytes stored(file.begin() + 0x1C, file.begin() + 0x30);
    // Signed in pieces, as a writer would, with junk where the signature goes.
    psv::Seed seed;
    std::copy_n(file.begin() + 0x08, seed.size(), seed.begin());
    std::fill(file.begin() + 0x1C, file.begin() + 0x30, 0xA5);
    psv::Signer signer(*psv::KindOf(file), seed);
    FeedUnevenly(signer, file);
    const auto signature = signer.Finish();
    ASSERT_TRUE(signature) << name;
    EXPECT_TRUE(std::ranges::equal(*signature, stored)) << name;
    std::copy(stored.begin(), stored.end(), file.begin() + 0x1C);
    file[file.size() / 2] ^= 0x40;
    EXPECT_EQ(psv::Verify(file), psv::SignatureCheck::kMismatch) << name;
    file[file.size() / 2] ^= 0x40;
    file[0x3C] ^= 3;  // the other derivation
    EXPECT_EQ(psv::Verify(file), psv::SignatureCheck::kMismatch) << name;
  }
}

// The content seed ignores exactly the seed and the signature (0x08..0x2F).
TEST(Ps3Signature, ContentSeedCoversAllButSeedAndSignature) {
  Bytes file = testutil::MakeBytes(300, 9);
  const psv::Seed base = *psv::ContentSeed(file);
  for (std::size_t at : {0x07u, 0x08u, 0x1Bu, 0x1Cu, 0x2Fu, 0x30u, 0x3Cu, 299u}) {
    Bytes changed = file;
    changed[at] ^= 0xFF;
    const bool ignored = at >= 0x08 && at < 0x30;
    psv::SeedMaker maker;
    FeedUnevenly(maker, changed);
    EXPECT_EQ(*maker.Finish() == base, ignored) << "byte " << at;
  }
  EXPECT_FALSE(psv::ContentSeed(std::span(file).first(0x3F)));
  file[0x3C] = 3;
  EXPECT_EQ(psv::Verify(file), psv::SignatureCheck::kUnreadable) << "no such kind";
}

TEST(Ps3Signature, ExportFileNames) {
  struct Case {
    std::string folder;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"BESCES-50501REZ", "BESCES-5050152455A.PSV"},
      {"SHORT", "SHORT.PSV"},
      {"BASLUS-21050", "BASLUS-21050.PSV"},
      {"BASLUS-21050a", "BASLUS-2105061.PSV"},
      {"BESCES-50501\xE9\x01 /", "BESCES-50501E901202F.PSV"},
      // 20 characters past the twelfth: 40 hex digits.
      {std::string(32, 'A'), "AAAAAAAAAAAA4141414141414141414141414141414141414141.PSV"},
      {std::string(33, 'A'), std::nullopt},
      {"", std::nullopt},
      {"BES\xE9", std::nullopt},
      {"BES/CES", std::nullopt},
      {"BES\tCES", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(psv::ExportFileName(c.folder), c.want) << c.folder;
}
