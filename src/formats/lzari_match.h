// The classic encoder's match finder (internal to LzariEncode), giving the very matches
// its binary trees give, without keeping the trees' links.
//
// The classic encoder keeps one binary search tree per first byte of the window's
// strings (60 bytes from each position). A string is inserted as a new leaf, or in the
// place of a node with the same 60 bytes; a node with two children is deleted by moving
// the last node of its lower side into its place. The match of an insertion is the
// longest common prefix met on the way down to the new leaf, the nearer of two as long:
// which nodes that way passes (the trees' shape) decides the parse as much as the
// strings do.
//
// Such a tree is a treap: give each node a rank, the time it was inserted, except that a
// node taking another's place (an equal string replacing it, or the last node of a
// deleted node's lower side) takes that node's rank; then every node ranks before all
// of its descendants, and a search tree with that property is the only one for its
// strings and ranks. So the tree is known from the strings in sorted order and their
// ranks alone:
//   - a node is on the way down to where a new string goes exactly when no string
//     between it and the new one (in sorted order) ranks before it: going outward from
//     the new string's place on either side, the nodes whose rank is lower than every
//     rank passed so far;
//   - a node has a lower (higher) child exactly when the string just below (above) it
//     ranks after it; deleting a node with both makes the one below it take its rank.
// The finder keeps each tree's strings in a list in sorted order, with the ranks; an
// insertion needs only the two strings it goes between, and its match comes from the
// walk outward through the strings that share the most bytes with it (none when the
// neighbours share fewer than 3: then there is no match to choose).
//
// The two neighbours are found
//   - next to the string one position on from a neighbour of the last string inserted:
//     when the last string shared two or more bytes with that neighbour, the string
//     after the neighbour shares one less with the new string and sorts on the same side
//     of it, nearly always right beside it;
//   - else from an index of the strings by their first two bytes: where no string shares
//     the new one's first two bytes, its neighbours are the last string of the nearest
//     pair below and the first of the nearest above (a bitmap finds the pairs in use);
//     where some do, by stepping along the list from the first of them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "formats/lzari_encode.h"

namespace lzari::detail {

inline constexpr std::uint32_t kWordBytes = 8;
// A comparison reads a string's 60 bytes in words of 8, the last one 4 bytes past them.
static_assert(kRingSize - 1 + kMaxMatch + 4 <= kTextSize);

// 8 bytes from p as a number whose order is theirs byte by byte: the first one most
// significant.
inline std::uint64_t LoadOrdered(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, kWordBytes);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// How two strings of 60 bytes compare: the bytes they share from the start (60 when
// equal), and whether the first sorts after the second.
struct Order {
  std::uint32_t same;
  bool after;
};
// `known` bytes from the start are known to be the same.
inline Order CompareStrings(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t known = 0) {
  for (std::uint32_t i = known & ~(kWordBytes - 1); i < kMaxMatch; i += kWordBytes) {
    const std::uint64_t x = LoadOrdered(a + i), y = LoadOrdered(b + i);
    if (x != y) {
      const std::uint32_t same = i + static_cast<std::uint32_t>(std::countl_zero(x ^ y)) / 8;
      return {same < kMaxMatch ? same : kMaxMatch, x > y};
    }
  }
  return {kMaxMatch, false};
}

class MatchFinder {
 public:
  explicit MatchFinder(LzariEncodeState& s) : s_(s) {
    for (std::uint32_t t = kTreeRoots; t < kTreeRoots + 256; ++t) {
      s_.lower[t] = s_.higher[t] = static_cast<std::uint16_t>(t);  // an empty list
      s_.rank[t] = 0;  // a tree's root ranks before every node
    }
    for (std::uint32_t i = 0; i < kRingSize; ++i) s_.rank[i] = kAbsent;
    std::memset(s_.pairsUsed, 0, sizeof s_.pairsUsed);
  }

  // Inserts the string at r. With kFindMatch, leaves the match in s.matchLength and
  // s.matchPosition (the position only when the length is above 2); the parse only asks
  // for it at the start of a code.
  template <bool kFindMatch>
  [[gnu::always_inline]] void Insert(std::uint32_t r) {
    const std::uint8_t* const key = s_.text + r;
    Gap gap;
    if (hintFor_ != r || !InTree(hint_) || s_.text[hint_] != key[0] || !GapFrom(hint_, key, hintSame_, gap))
      GapByPair(key, gap);
    hintFor_ = (r + 1) & kRingMask;
    hint_ = kNoNode;
    if (gap.equal != kNoNode) {
      Replace(gap.equal, r);
      Hint(gap.equal, kMaxMatch);
      if constexpr (kFindMatch) {
        s_.matchLength = kMaxMatch;
        s_.matchPosition = (r - gap.equal) & kRingMask;
      }
      return;
    }
    if constexpr (kFindMatch) {
      const std::uint32_t same = gap.lowerSame > gap.higherSame ? gap.lowerSame : gap.higherSame;
      s_.matchLength = 0;
      if (same > kThreshold) {
        s_.matchLength = same;
        s_.matchPosition = NearestOnTheWay(r, gap, same);
      }
    }
    s_.rank[r] = ++clock_;
    List(r, gap);
    // The string after the neighbour that shares more with r sorts the nearer to where
    // the next string goes.
    if (gap.higherSame > gap.lowerSame) Hint(gap.higher, gap.higherSame);
    else Hint(gap.lower, gap.lowerSame);
  }

  // Deletes the string at p from its tree (nothing when it is in none). With both
  // children, the string below it takes its place and so its rank.
  [[gnu::always_inline]] void Delete(std::uint32_t p) {
    const std::uint64_t rank = s_.rank[p];
    if (rank == kAbsent) return;
    const std::uint32_t lower = s_.lower[p], higher = s_.higher[p];
    // Without a branch: lower takes p's rank exactly when both rank after p (a root ranks
    // before every node, so it never does).
    const std::uint64_t lowerRank = s_.rank[lower];
    const std::uint64_t taken = s_.rank[higher] > rank ? rank : lowerRank;
    s_.rank[lower] = taken < lowerRank ? taken : lowerRank;
    Unlist(p);
    s_.rank[p] = kAbsent;
  }

 private:
  // Where a string goes among those of its tree: between `lower` and `higher` (the
  // tree's root standing for "none" on either side), with the bytes it shares with each;
  // or in the place of `equal`, which holds the same 60 bytes.
  struct Gap {
    std::uint32_t lower = kNoNode, higher = kNoNode;
    std::uint32_t lowerSame = 0, higherSame = 0;
    std::uint32_t equal = kNoNode;
  };
  static constexpr std::uint64_t kAbsent = ~std::uint64_t{0};  // the rank of a position in no tree
  static constexpr std::uint32_t kPairSpare = 65536;  // pairFirst's slot for stores that go nowhere

  static bool IsNode(std::uint32_t n) { return n < kRingSize; }
  bool InTree(std::uint32_t n) const { return IsNode(n) && s_.rank[n] != kAbsent; }
  std::uint32_t Pair(std::uint32_t p) const { return std::uint32_t{s_.text[p]} << 8 | s_.text[p + 1]; }
  bool PairUsed(std::uint32_t b) const { return (s_.pairsUsed[b / 64] >> (b % 64)) & 1; }

  // The gap found by stepping along the list from c, a string of the key's tree that
  // shares at least `known` bytes with it; false when the steps grow too many for a hint
  // worth following. Each step knows how many bytes the two strings it goes between
  // share, and from that and what the key shares with the one it leaves, most often
  // which side of the key the next string is on, without comparing them.
  template <bool kBounded>
  bool Step(std::uint32_t c, const std::uint8_t* key, std::uint32_t known, Gap& gap) const {
    const Order o = CompareStrings(key, s_.text + c, known);
    if (o.same >= kMaxMatch) {
      gap.equal = c;
      return true;
    }
    const bool up = o.after;  // up the list from a lower string, else down from a higher one
    std::uint32_t near = c, nearSame = o.same;
    for (int k = 0;; ++k) {
      if (kBounded && k == kHintSteps) return false;
      const std::uint32_t n = up ? s_.higher[near] : s_.lower[near];
      std::uint32_t nSame = 0;
      if (IsNode(n)) {
        // The bytes near and n share, and so whether n is on near's side of the key.
        const std::uint32_t between = up ? s_.shared[n] : s_.shared[near];
        if (between > nearSame) {
          near = n;  // n agrees with near where near and the key part
          continue;
        }
        if (between < nearSame) {
          nSame = between;  // n parts from near where near agrees with the key
        } else {
          const Order on = CompareStrings(key, s_.text + n, nearSame);
          if (on.same >= kMaxMatch) {
            gap.equal = n;
            return true;
          }
          if (on.after == up) {
            near = n;
            nearSame = on.same;
            continue;
          }
          nSame = on.same;
        }
      }
      if (up) gap = {near, n, nearSame, nSame, kNoNode};
      else gap = {n, near, nSame, nearSame, kNoNode};
      return true;
    }
  }
  static constexpr int kHintSteps = 8;
  // From a hint: one that shares the key's first two bytes is followed however far (the
  // index would only start from the first string of the pair); another only a few steps.
  bool GapFrom(std::uint32_t c, const std::uint8_t* key, std::uint32_t known, Gap& gap) const {
    return known >= 2 ? Step<false>(c, key, known, gap) : Step<true>(c, key, known, gap);
  }

  // The gap from the index of first-two-byte pairs.
  void GapByPair(const std::uint8_t* key, Gap& gap) const {
    const std::uint32_t b = std::uint32_t{key[0]} << 8 | key[1];
    if (PairUsed(b)) {
      Step<false>(s_.pairFirst[b], key, 2, gap);
      return;
    }
    // No string shares the pair: the key goes before the first string of the next pair
    // in use in its tree, or last when there is none. Either neighbour shares the first
    // byte at most.
    const std::uint32_t root = kTreeRoots + key[0];
    std::uint32_t higher = root;
    // The tree's row of the bitmap, four words; the pairs above b in it.
    const std::uint64_t* row = s_.pairsUsed + key[0] * 4;
    const std::uint32_t from = key[1] + 1;  // 1..256
    for (std::uint32_t w = from / 64; w < 4; ++w) {
      const std::uint64_t bits = row[w] & (w == from / 64 ? ~std::uint64_t{0} << (from % 64) : ~std::uint64_t{0});
      if (bits != 0) {
        higher = s_.pairFirst[(b & 0xFF00) + w * 64 + static_cast<std::uint32_t>(std::countr_zero(bits))];
        break;
      }
    }
    const std::uint32_t lower = s_.lower[higher];
    gap = {lower, higher, IsNode(lower) ? 1u : 0u, IsNode(higher) ? 1u : 0u, kNoNode};
  }

  // The nearest of the nodes on the way down to the gap that share `same` bytes with
  // the string at r, `same` being the most any node shares with it. Those nodes lie
  // around the gap, outward from it on either side; on the way down are those that rank
  // before every node between them and the gap.
  std::uint32_t NearestOnTheWay(std::uint32_t r, const Gap& gap, std::uint32_t same) const {
    std::uint32_t nearest = kRingSize;
    for (int side = 0; side < 2; ++side) {
      const std::uint16_t* const step = side == 0 ? s_.lower : s_.higher;
      std::uint32_t n = side == 0 ? gap.lower : gap.higher;
      std::uint32_t nSame = side == 0 ? gap.lowerSame : gap.higherSame;
      std::uint64_t passed = kAbsent;  // the lowest rank passed
      while (IsNode(n) && nSame == same) {
        if (s_.rank[n] < passed) {
          passed = s_.rank[n];
          const std::uint32_t distance = (r - n) & kRingMask;
          if (distance < nearest) nearest = distance;
        }
        // What the key shares with the next one: what it shares with n, or less where n
        // and the next part sooner.
        const std::uint32_t between = side == 0 ? s_.shared[n] : 0;
        n = step[n];
        if (IsNode(n)) {
          const std::uint32_t b = side == 0 ? between : s_.shared[n];
          nSame = b < same ? b : same;
        }
      }
    }
    return nearest;
  }

  // The string after `near` in the window is where the next insertion looks first, when
  // near shares two bytes or more with the string just placed.
  void Hint(std::uint32_t near, std::uint32_t same) {
    if (hint_ == kNoNode && IsNode(near) && same >= 2) {
      hint_ = (near + 1) & kRingMask;
      hintSame_ = same - 1;  // what the next string shares with it, at least
    }
  }

  // Puts r in its tree's list between lower and higher, and in the pair index.
  void List(std::uint32_t r, const Gap& gap) {
    const std::uint32_t lower = gap.lower, higher = gap.higher;
    s_.shared[r] = static_cast<std::uint8_t>(gap.lowerSame);
    s_.shared[higher] = static_cast<std::uint8_t>(gap.higherSame);
    s_.higher[lower] = static_cast<std::uint16_t>(r);
    s_.lower[r] = static_cast<std::uint16_t>(lower);
    s_.higher[r] = static_cast<std::uint16_t>(higher);
    s_.lower[higher] = static_cast<std::uint16_t>(r);
    // r is the first of its pair when the string before it shares fewer than two bytes
    // (none after the root).
    if (gap.lowerSame < 2) {
      const std::uint32_t b = Pair(r);
      s_.pairFirst[b] = static_cast<std::uint16_t>(r);
      s_.pairsUsed[b / 64] |= std::uint64_t{1} << (b % 64);
    }
  }

  // Takes p out of its list and the pair index.
  void Unlist(std::uint32_t p) {
    const std::uint32_t lower = s_.lower[p], higher = s_.higher[p];
    const std::uint32_t pSame = s_.shared[p], higherSame = s_.shared[higher];
    const std::uint32_t b = Pair(p);
    // Without branches (both tests depend on the data): p is the first of its pair when
    // the string before it shares fewer than two bytes, and then the string after it
    // becomes the first, or the pair is gone when that one does not share it. Any other
    // p stores into the spare slot behind the index.
    const bool first = pSame < 2;
    const bool next = IsNode(higher) && higherSame >= 2;
    s_.pairFirst[first ? b : kPairSpare] = static_cast<std::uint16_t>(higher);
    s_.pairsUsed[b / 64] &= ~(std::uint64_t{first && !next} << (b % 64));
    s_.higher[lower] = static_cast<std::uint16_t>(higher);
    s_.lower[higher] = static_cast<std::uint16_t>(lower);
    // What higher shares with its new lower neighbour: the less of the two shares.
    s_.shared[higher] = static_cast<std::uint8_t>(pSame < higherSame ? pSame : higherSame);
  }

  // r holds the same 60 bytes as p: it takes p's place in the list, and its rank.
  void Replace(std::uint32_t p, std::uint32_t r) {
    const std::uint32_t lower = s_.lower[p], higher = s_.higher[p];
    s_.lower[r] = static_cast<std::uint16_t>(lower);
    s_.higher[r] = static_cast<std::uint16_t>(higher);
    s_.higher[lower] = static_cast<std::uint16_t>(r);
    s_.lower[higher] = static_cast<std::uint16_t>(r);
    s_.rank[r] = s_.rank[p];
    s_.rank[p] = kAbsent;
    s_.shared[r] = s_.shared[p];
    if (s_.shared[p] < 2) s_.pairFirst[Pair(r)] = static_cast<std::uint16_t>(r);
  }

  LzariEncodeState& s_;
  std::uint64_t clock_ = 0;          // the rank of the last string inserted
  std::uint32_t hintFor_ = kNoNode;  // the position the hint is for
  std::uint32_t hint_ = kNoNode;     // a string near where that one goes
  std::uint32_t hintSame_ = 0;       // the bytes that one shares with it, at least
};

}  // namespace lzari::detail
