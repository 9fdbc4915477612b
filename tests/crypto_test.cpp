// The crypto interface, zlib streams, CodeBreaker bodies and PS3 export signatures.
#include <gtest/gtest.h>

#include <algorithm>

#include "formats/cbs/cbs_body.h"
#include "formats/cbs/zlib_stream.h"
#include "io/crypto.h"
#include "model/bytes.h"
#include "support/alloc_probe.h"
#include "support/crypto_vectors.h"
#include "support/test_util.h"

using testutil::Bytes;

TEST(Crypto, KnownAnswerVectors) {
  int checks = 0;
  for (const std::string& failure : crypto_vectors::RunAll(checks)) ADD_FAILURE() << failure;
  EXPECT_EQ(checks, 37);
}

TEST(Crypto, FinishedComputationGivesNothingMore) {
  io::Sha1 sha;
  sha.Update(testutil::FromString("abc"));
  ASSERT_TRUE(sha.Finish());
  sha.Update(testutil::FromString("abc"));
  EXPECT_FALSE(sha.Finish());
  Bytes odd(17);
  EXPECT_FALSE(io::Aes128CbcDecrypt({}, {}, odd, odd)) << "not whole blocks";
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
