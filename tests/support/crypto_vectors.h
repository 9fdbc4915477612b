// Published known-answer vectors for the crypto interface in src/io, and one routine that
// runs them all. The unit tests and the Windows check program (tests/e2e/crypto_check.cpp,
// run under wine) share both, so OpenSSL and CNG answer the very same questions.
#pragma once

#include <string>
#include <vector>

namespace crypto_vectors {

// Runs every vector: SHA-1 (FIPS 180 "abc", the 448-bit message, the empty message),
// HMAC-SHA1 (RFC 2202 cases 1 to 7, and an empty key), each fed whole, one byte at a time
// and in uneven pieces; AES-128 of one block both ways (FIPS-197 C.1); AES-128-CBC
// decryption and encryption (SP 800-38A F.2.2, F.2.1) into a separate buffer and in place;
// SHA-256 (FIPS 180 "abc", the 448-bit message, the empty message, a million "a"). Returns one line per
// mismatch or failed call; `checks` counts the comparisons made.
std::vector<std::string> RunAll(int& checks);

}  // namespace crypto_vectors
