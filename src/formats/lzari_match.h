// The classic encoder's match finder (internal to LzariEncode), with its trees kept link
// for link, and an index beside them that finds most insertion points without a walk.
//
// The trees decide the parse: a match is the longest common prefix met on the walk from
// a tree's root down to where the new string goes, the nearer of two as long, so which
// nodes the walk passes (the trees' shape) matters as much as the strings. The shape is
// kept exactly, every insertion and deletion as the classic encoder makes it; what
// changes is how an insertion finds its place.
//
// In a binary search tree a new leaf hangs below one of the two strings between which
// it sorts: below the lower one when that has no right child, else below the higher one,
// which then has no left child. So with the strings of each tree also kept in a list in
// sorted order, knowing the two neighbours is knowing the place. They are found
//   - next to the string one position on from a neighbour of the last string inserted:
//     when the last string shared two or more bytes with that neighbour, the string
//     after the neighbour shares one less with the new string and sorts on the same side
//     of it, nearly always right beside it (a few steps along the list at most);
//   - else from an index of the strings by their first two bytes: where no string shares
//     the new one's first two bytes, its neighbours are the last string of the nearest
//     pair below and the first of the nearest above (a bitmap finds the pairs in use).
// An insertion that asks for its match needs the walk's path only when one of the
// neighbours shares three bytes or more with it (there is a match to choose); with no
// match, the result is the same whatever the path. The walk remains for that case and
// for the few strings neither way places.
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
inline Order CompareStrings(const std::uint8_t* a, const std::uint8_t* b) {
  for (std::uint32_t i = 0; i < kMaxMatch; i += kWordBytes) {
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
      s_.child[t][0] = s_.child[t][1] = static_cast<std::uint16_t>(kNoNode);
      s_.lower[t] = s_.higher[t] = static_cast<std::uint16_t>(t);  // an empty list
    }
    for (std::uint32_t i = 0; i < kRingSize; ++i) s_.parent[i] = static_cast<std::uint16_t>(kNoNode);
    std::memset(s_.pairsUsed, 0, sizeof s_.pairsUsed);
  }

  // Inserts the string at r. With kFindMatch, leaves the match in s.matchLength and
  // s.matchPosition (the position only when the length is above 2); the parse only asks
  // for it at the start of a code.
  template <bool kFindMatch>
  void Insert(std::uint32_t r) {
    const std::uint8_t* const key = s_.text + r;
    // The next string's pair is known already: its part of the pair index (a larger
    // table than the rest) is fetched meanwhile.
    __builtin_prefetch(&s_.pairFirst[Pair(r + 1)]);
    Gap gap;
    bool placed = false;
    if (hintFor_ == r && IsNode(hint_) && s_.parent[hint_] != kNoNode && s_.text[hint_] == key[0])
      placed = GapFrom(hint_, key, gap);
    if (!placed) placed = GapByPair(key, gap);
    hintFor_ = (r + 1) & kRingMask;
    hint_ = kNoNode;
    if (!placed || (kFindMatch && gap.equal == kNoNode && gap.lowerSame > kThreshold) ||
        (kFindMatch && gap.equal == kNoNode && gap.higherSame > kThreshold)) {
      Walk<kFindMatch>(r);
      return;
    }
    if (gap.equal != kNoNode) {
      Replace(gap.equal, r);
      Hint(gap.equal, kMaxMatch);
      if constexpr (kFindMatch) {
        s_.matchLength = kMaxMatch;
        s_.matchPosition = (r - gap.equal) & kRingMask;
      }
      return;
    }
    Attach(r, key[0], gap);
    Hint(gap.lower, gap.lowerSame);
    Hint(gap.higher, gap.higherSame);
    if constexpr (kFindMatch) s_.matchLength = 0;
  }

  // Deletes the string at p from its tree (nothing when it is in none), as the classic
  // encoder does: a node with two children gives its place to the last node of its
  // lower side, its neighbour in the list.
  void Delete(std::uint32_t p) {
    auto* const child = s_.child;
    std::uint16_t* const parent = s_.parent;
    if (parent[p] == kNoNode) return;
    Unlist(p);
    // Which of the three cases holds depends on the data, so none is branched on: a
    // store a case doesn't make goes to the null node's row, which nothing reads.
    const std::uint32_t left = child[p][0], right = child[p][1];
    const bool both = left != kNoNode && right != kNoNode;
    // The node that takes p's place: its only child, or with two, the last node of its
    // lower side (its neighbour in the list, not yet changed).
    const std::uint32_t q = both ? s_.lower[p] : right == kNoNode ? left : right;
    // When q lies deeper than p's left child, q's lower side takes q's place and q takes
    // p's lower side.
    const bool deeper = both && q != left;
    const std::uint32_t qUp = parent[q], qLower = child[q][0];
    child[deeper ? qUp : kNoNode][1] = static_cast<std::uint16_t>(qLower);
    parent[deeper ? qLower : kNoNode] = static_cast<std::uint16_t>(qUp);
    child[deeper ? q : kNoNode][0] = static_cast<std::uint16_t>(left);
    parent[deeper ? left : kNoNode] = static_cast<std::uint16_t>(q);
    child[both ? q : kNoNode][1] = static_cast<std::uint16_t>(right);
    parent[both ? right : kNoNode] = static_cast<std::uint16_t>(q);
    const std::uint32_t up = parent[p];
    parent[q] = static_cast<std::uint16_t>(up);
    child[up][child[up][1] == p ? 1 : 0] = static_cast<std::uint16_t>(q);
    parent[p] = static_cast<std::uint16_t>(kNoNode);
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
  static constexpr int kListSteps = 6;  // list steps tried before the walk takes over

  static bool IsNode(std::uint32_t n) { return n < kRingSize; }
  std::uint32_t Pair(std::uint32_t p) const { return std::uint32_t{s_.text[p]} << 8 | s_.text[p + 1]; }
  bool PairUsed(std::uint32_t b) const { return (s_.pairsUsed[b / 64] >> (b % 64)) & 1; }

  // The gap found by stepping along the list from c, a string of the key's tree.
  bool GapFrom(std::uint32_t c, const std::uint8_t* key, Gap& gap) const {
    const Order o = CompareStrings(key, s_.text + c);
    if (o.same >= kMaxMatch) {
      gap.equal = c;
      return true;
    }
    // Walking up from a lower string or down from a higher one until the key's place.
    const std::uint16_t* const step = o.after ? s_.higher : s_.lower;
    std::uint32_t near = c, nearSame = o.same;
    for (int k = 0; k < kListSteps; ++k) {
      const std::uint32_t n = step[near];
      std::uint32_t nSame = 0;
      if (IsNode(n)) {
        const Order on = CompareStrings(key, s_.text + n);
        if (on.same >= kMaxMatch) {
          gap.equal = n;
          return true;
        }
        if (on.after == o.after) {
          near = n;
          nearSame = on.same;
          continue;
        }
        nSame = on.same;
      }
      if (o.after) gap = {near, n, nearSame, nSame, kNoNode};
      else gap = {n, near, nSame, nearSame, kNoNode};
      return true;
    }
    return false;
  }

  // The gap from the index of first-two-byte pairs.
  bool GapByPair(const std::uint8_t* key, Gap& gap) const {
    const std::uint32_t b = std::uint32_t{key[0]} << 8 | key[1];
    if (PairUsed(b)) return GapFrom(s_.pairFirst[b], key, gap);
    // No string shares the pair: the key goes before the first string of the next pair
    // in use in its tree, or last when there is none. Either neighbour shares at most
    // the first byte.
    const std::uint32_t root = kTreeRoots + key[0];
    std::uint32_t higher = root;
    if ((b & 0xFF) != 0xFF) {
      const std::uint32_t end = (b | 0xFF) + 1;  // the next tree's first pair
      std::uint32_t w = (b + 1) / 64;
      std::uint64_t bits = s_.pairsUsed[w] & (~std::uint64_t{0} << ((b + 1) % 64));
      for (;;) {
        if (bits != 0) {
          const std::uint32_t next = w * 64 + static_cast<std::uint32_t>(std::countr_zero(bits));
          if (next < end) higher = s_.pairFirst[next];
          break;
        }
        if (++w * 64 >= end) break;
        bits = s_.pairsUsed[w];
      }
    }
    const std::uint32_t lower = s_.lower[higher];
    gap = {lower, higher, IsNode(lower) ? 1u : 0u, IsNode(higher) ? 1u : 0u, kNoNode};
    return true;
  }

  // The string after `near` in the window is where the next insertion looks first, when
  // near shares two bytes or more with the string just placed.
  void Hint(std::uint32_t near, std::uint32_t same) {
    if (hint_ == kNoNode && IsNode(near) && same >= 2) hint_ = (near + 1) & kRingMask;
  }

  // Hangs r in the gap: below the lower neighbour when its right side is free, else
  // below the higher one.
  void Attach(std::uint32_t r, std::uint8_t first, const Gap& gap) {
    const std::uint32_t root = kTreeRoots + first;
    const std::uint32_t lowerNode = IsNode(gap.lower) ? gap.lower : root;
    // Chosen without a branch: either side is as likely.
    const std::uint32_t side = s_.child[lowerNode][1] == kNoNode;
    const std::uint32_t up = side ? lowerNode : gap.higher;
    s_.child[up][side] = static_cast<std::uint16_t>(r);
    s_.parent[r] = static_cast<std::uint16_t>(up);
    s_.child[r][0] = s_.child[r][1] = static_cast<std::uint16_t>(kNoNode);
    List(r, gap.lower, gap.higher);
  }

  // Puts r in its tree's list between lower and higher, and in the pair index.
  void List(std::uint32_t r, std::uint32_t lower, std::uint32_t higher) {
    s_.higher[lower] = static_cast<std::uint16_t>(r);
    s_.lower[r] = static_cast<std::uint16_t>(lower);
    s_.higher[r] = static_cast<std::uint16_t>(higher);
    s_.lower[higher] = static_cast<std::uint16_t>(r);
    const std::uint32_t b = Pair(r);
    if (!IsNode(lower) || Pair(lower) != b) {
      s_.pairFirst[b] = static_cast<std::uint16_t>(r);
      s_.pairsUsed[b / 64] |= std::uint64_t{1} << (b % 64);
    }
  }

  // Takes p out of its list and the pair index.
  void Unlist(std::uint32_t p) {
    const std::uint32_t lower = s_.lower[p], higher = s_.higher[p];
    const std::uint32_t b = Pair(p);
    // Without branches: whether p is first of its pair and whether the next string
    // shares the pair depend on the data.
    const bool first = s_.pairFirst[b] == p;
    const bool shared = IsNode(higher) && Pair(IsNode(higher) ? higher : 0) == b;
    s_.pairFirst[b] = static_cast<std::uint16_t>(first && shared ? higher : s_.pairFirst[b]);
    s_.pairsUsed[b / 64] &= ~(std::uint64_t{first && !shared} << (b % 64));
    s_.higher[lower] = static_cast<std::uint16_t>(higher);
    s_.lower[higher] = static_cast<std::uint16_t>(lower);
  }

  // r holds the same 60 bytes as p: it takes p's place in the tree and the list.
  void Replace(std::uint32_t p, std::uint32_t r) {
    auto* const child = s_.child;
    std::uint16_t* const parent = s_.parent;
    const std::uint32_t up = parent[p];
    parent[r] = static_cast<std::uint16_t>(up);
    child[r][0] = child[p][0];
    child[r][1] = child[p][1];
    parent[child[p][0]] = static_cast<std::uint16_t>(r);
    parent[child[p][1]] = static_cast<std::uint16_t>(r);
    child[up][child[up][1] == p ? 1 : 0] = static_cast<std::uint16_t>(r);
    parent[p] = static_cast<std::uint16_t>(kNoNode);
    const std::uint32_t lower = s_.lower[p], higher = s_.higher[p];
    s_.lower[r] = static_cast<std::uint16_t>(lower);
    s_.higher[r] = static_cast<std::uint16_t>(higher);
    s_.higher[lower] = static_cast<std::uint16_t>(r);
    s_.lower[higher] = static_cast<std::uint16_t>(r);
    const std::uint32_t b = Pair(r);
    if (s_.pairFirst[b] == p) s_.pairFirst[b] = static_cast<std::uint16_t>(r);
  }

  // The classic insertion: down from the tree's root, comparing with each node passed;
  // the longest common prefix of more than 2 bytes met on the way is the match, the
  // nearer of two as long; a node with the same 60 bytes is replaced.
  template <bool kFindMatch>
  void Walk(std::uint32_t r) {
    auto* const child = s_.child;
    const std::uint8_t* const key = s_.text + r;
    std::uint32_t p = kTreeRoots + key[0];
    std::uint32_t length = 0;
    std::uint32_t position = s_.matchPosition;
    std::uint32_t after = 1;  // the key sorts after p (from a root: go right)
    std::uint32_t same = 0;   // the bytes it shares with p
    child[r][0] = child[r][1] = static_cast<std::uint16_t>(kNoNode);
    for (;;) {
      // Both links are read at once and the comparison picks one: measured faster
      // than reading only the one it picks.
      std::uint32_t links;
      std::memcpy(&links, child[p], sizeof links);
      if constexpr (std::endian::native == std::endian::big) links = links >> 16 | links << 16;
      const std::uint32_t next = (links >> (16 * after)) & 0xFFFF;
      if (next == kNoNode) break;
      p = next;
      const Order o = CompareStrings(key, s_.text + p);
      same = o.same;
      after = o.after;
      if (same >= kMaxMatch) {
        Replace(p, r);
        Hint(p, kMaxMatch);
        if constexpr (kFindMatch) {
          s_.matchLength = kMaxMatch;
          s_.matchPosition = (r - p) & kRingMask;
        }
        return;
      }
      if (kFindMatch && same > kThreshold) {
        const std::uint32_t distance = (r - p) & kRingMask;
        if (same > length) {
          position = distance;
          length = same;
        } else if (same == length && distance < position) {
          position = distance;
        }
      }
    }
    child[p][after] = static_cast<std::uint16_t>(r);
    s_.parent[r] = static_cast<std::uint16_t>(p);
    if (after) List(r, p, s_.higher[p]);
    else List(r, s_.lower[p], p);
    Hint(p, same);
    if constexpr (kFindMatch) {
      s_.matchLength = length;
      s_.matchPosition = position;
    }
  }

  LzariEncodeState& s_;
  std::uint32_t hintFor_ = kNoNode;  // the position the hint is for
  std::uint32_t hint_ = kNoNode;     // a string near where that one goes
};

}  // namespace lzari::detail
