#include "formats/xps/xps_checksum.h"

#include <algorithm>
#include <array>

namespace {

// Each byte's shift is the sum so far mod 24, and working that out from the sum (a
// multiply and two more steps) is most of the time a byte takes. So the residue is
// followed on its own: from residue r, byte b leads to (r + (b << r)) mod 24, one table
// load a byte, while the sum is added up beside it. When the 32-bit sum wraps it loses
// 2^32, which is 16 mod 24: the residue moves on by 8 more (rare, so a branch).
struct ShiftState {
  const ShiftState* next[256];
  const ShiftState* wrapped;
  std::uint32_t shift;
};

using ShiftStates = std::array<ShiftState, 24>;

const ShiftStates& Residues() {
  static const ShiftStates states = [] {
    ShiftStates t{};
    for (std::uint32_t r = 0; r < 24; ++r) {
      t[r].shift = r;
      t[r].wrapped = &t[(r + 8) % 24];
      for (std::uint32_t b = 0; b < 256; ++b) t[r].next[b] = &t[(r + (b << r)) % 24];
    }
    return t;
  }();
  return states;
}

// Once the sum's low three bits are 3 or more, every shift is 3 or more, so those bits
// never change again (a wrap takes away 2^32, which leaves them alone too). The shift is
// then r8 + 8q, where r8 is those bits and q in 0..2 is fixed by the sum mod 3. A byte b
// moves the sum mod 3 by b * 2^shift, that is by b or 2b as r8 is even or odd, and a
// wrap by -1 (2^32 is 1 mod 3); in terms of q that is b or 2b and +1. So q follows
// from a running count that is plain additions of per-byte steps, with no dependence on
// the sum except at a wrap: each byte costs a couple of table loads off the critical path
// and one add, where following the residue costs a dependent load a byte.
constexpr std::size_t kSettledBlock = 256;

struct SettledTables {
  std::uint8_t step[256];                         // how far b moves q
  std::uint8_t shift[3 + 3 * kSettledBlock + 1];  // r8 + 8 * (count mod 3)
};

const std::array<SettledTables, 8>& Settled() {
  static const std::array<SettledTables, 8> tables = [] {
    std::array<SettledTables, 8> t{};
    for (std::uint32_t r8 = 3; r8 < 8; ++r8) {
      const std::uint32_t perUnit = (r8 & 1) ? 1 : 2;
      for (std::uint32_t b = 0; b < 256; ++b)
        t[r8].step[b] = static_cast<std::uint8_t>(b * perUnit % 3);
      for (std::uint32_t x = 0; x < sizeof t[r8].shift; ++x)
        t[r8].shift[x] = static_cast<std::uint8_t>(r8 + 8 * (x % 3));
    }
    return t;
  }();
  return tables;
}

std::uint32_t AddSettled(std::uint32_t sum, const std::uint8_t* p, std::size_t n) {
  const SettledTables& t = Settled()[sum & 7];
  std::uint32_t count = (sum % 24) / 8;
  // Within a block the count grows by at most 3 a byte (2, and 1 for a wrap), which the
  // shift table covers; between blocks it is brought back to 0..2.
  // The empty asm keeps the compiler from folding the wrap into the count with an
  // add-with-carry: that would put the sum back on the count's path, a chain of several
  // steps a byte, where the branch costs a misprediction at each wrap only (one in 12 to
  // 200 bytes, depending on r8 and the data).
  auto step = [&t, &sum, &count](std::uint32_t b) {
    const std::uint32_t add = b << t.shift[count];
    count += t.step[b];
    if (__builtin_add_overflow(sum, add, &sum)) [[unlikely]] {
      asm volatile("" : "+r"(count));
      count += 1;
    }
  };
  while (n > 0) {
    std::size_t block = std::min(n, kSettledBlock);
    n -= block;
    for (; block >= 4; block -= 4, p += 4) {
      step(p[0]);
      step(p[1]);
      step(p[2]);
      step(p[3]);
    }
    for (; block > 0; --block, ++p) step(*p);
    count %= 3;
  }
  return sum;
}

}  // namespace

void XpsChecksum::Add(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = sum_;
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  // Until the low bits settle (usually within the first few bytes), follow the residue.
  if ((sum & 7) < 3) {
    const ShiftState* state = &Residues()[sum % 24];
    for (; n > 0 && (sum & 7) < 3; --n, ++p) {
      const std::uint32_t b = *p;
      const std::uint32_t next = sum + (b << state->shift);
      state = state->next[b];
      if (next < sum) [[unlikely]]
        state = state->wrapped;
      sum = next;
    }
  }
  if (n > 0) sum = AddSettled(sum, p, n);
  sum_ = sum;
}

std::uint32_t XpsChecksum::Of(std::span<const std::uint8_t> bytes) {
  XpsChecksum c;
  c.Add(bytes);
  return c.value();
}
