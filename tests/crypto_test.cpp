// The crypto interface, zlib streams, CodeBreaker bodies and PS3 export signatures.
#include <gtest/gtest.h>

#include <algorithm>

#include "io/crypto.h"
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
