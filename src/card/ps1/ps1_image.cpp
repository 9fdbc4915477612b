#include "card/ps1/ps1_image.h"

#include <algorithm>
#include <cstring>

#include "model/bytes.h"

namespace card {

namespace {

using ::ps1::DirFrame;
constexpr std::size_t kFrame = ::ps1::kFrameSize;
constexpr int kNoBlock = -1;

std::string Hex(std::uint32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

std::string BlockWhere(int block) { return "block " + std::to_string(block); }

bool IsLiveState(std::uint32_t s) { return s == ::ps1::kStateFirst || s == ::ps1::kStateMiddle || s == ::ps1::kStateLast; }
bool IsDeletedState(std::uint32_t s) {
  return s == ::ps1::kStateDeletedFirst || s == ::ps1::kStateDeletedMiddle || s == ::ps1::kStateDeletedLast;
}
bool IsFreeState(std::uint32_t s) { return s == ::ps1::kStateFree || IsDeletedState(s); }

// The directory's frames, read once.
struct Frames {
  std::array<DirFrame, kPs1Blocks> frame{};  // 0 is the card's header frame
  explicit Frames(std::span<const std::uint8_t> card) {
    for (std::size_t i = 0; i < kPs1Blocks; ++i) std::memcpy(frame[i].bytes.data(), card.data() + i * kFrame, kFrame);
  }
  std::uint32_t State(int block) const { return frame[static_cast<std::size_t>(block)].State(); }
  // The block a next index names: 1..15, 0 for the end of the chain, kNoBlock past the card.
  int NextBlock(int block) const {
    const std::uint16_t next = frame[static_cast<std::size_t>(block)].Next();
    if (next == ::ps1::kNoNext) return 0;
    return next < kPs1DataBlocks ? next + 1 : kNoBlock;
  }
};

// The number of blocks a first entry's size gives, or 0 when it is no whole number of
// blocks from 1 to 15.
int BlocksOfSize(std::uint32_t size) {
  if (size == 0 || size % kPs1BlockBytes != 0 || size / kPs1BlockBytes > static_cast<std::uint32_t>(kPs1DataBlocks)) return 0;
  return static_cast<int>(size / kPs1BlockBytes);
}

void Fail(Ps1SaveState& save, IssueKind kind, std::string problem) {
  save.intact = false;
  save.problems.emplace_back(kind, std::move(problem));
}

// A save reaching a block the file doesn't hold whole is damaged.
void FailPastStored(Ps1SaveState& save, std::size_t storedBlocks) {
  const auto past = std::find_if(save.blocks.begin(), save.blocks.end(),
                                 [&](int b) { return static_cast<std::size_t>(b) >= storedBlocks; });
  if (past != save.blocks.end()) Fail(save, IssueKind::kChainShort, "the file ends before its block " + std::to_string(*past));
}

// Follows a live save's chain from its first block, taking each block it reaches that no
// other live save holds.
void FollowLive(const Frames& f, int first, int index, std::size_t storedBlocks, Ps1Directory& dir) {
  Ps1SaveState& save = dir.saves[static_cast<std::size_t>(index)];
  save.intact = true;
  const int expected = BlocksOfSize(save.size);
  if (expected == 0)
    Fail(save, IssueKind::kLengthBeyondCard, "its size " + Hex(save.size) + " is not 1 to 15 whole blocks");
  for (int block = first;;) {
    save.blocks.push_back(block);
    dir.owner[static_cast<std::size_t>(block)] = index;
    const int next = f.NextBlock(block);
    if (next == 0) break;
    if (next == kNoBlock) {
      Fail(save, IssueKind::kChainBeyondCard,
           "block " + std::to_string(block) + " names a next block past the card (index " +
               Hex(f.frame[static_cast<std::size_t>(block)].Next()) + ")");
      break;
    }
    if (std::find(save.blocks.begin(), save.blocks.end(), next) != save.blocks.end()) {
      Fail(save, IssueKind::kChainLoop, "the chain comes back to block " + std::to_string(next));
      break;
    }
    const std::uint32_t state = f.State(next);
    if (dir.owner[static_cast<std::size_t>(next)] >= 0 || state == ::ps1::kStateFirst) {
      Fail(save, IssueKind::kCrossLinked, "the chain runs into block " + std::to_string(next) + ", which another save holds");
      break;
    }
    if (!IsLiveState(state)) {
      // Kept from other saves all the same: it may be this save's data under a lost state.
      dir.owner[static_cast<std::size_t>(next)] = index;
      save.blocks.push_back(next);
      Fail(save, IssueKind::kChainIntoFree,
           "the chain runs into block " + std::to_string(next) + ", whose state " + Hex(state) + " is not in use");
      break;
    }
    block = next;
  }
  FailPastStored(save, storedBlocks);
  if (expected != 0 && save.intact && static_cast<int>(save.blocks.size()) != expected)
    Fail(save, IssueKind::kChainShort,
         "its size gives " + std::to_string(expected) + " blocks, its chain has " + std::to_string(save.blocks.size()));
  if (!save.intact) return;
  for (std::size_t k = 1; k < save.blocks.size(); ++k) {
    const std::uint32_t want = k + 1 == save.blocks.size() ? ::ps1::kStateLast : ::ps1::kStateMiddle;
    if (f.State(save.blocks[k]) != want) save.stateFixes.emplace_back(save.blocks[k], want);
  }
}

// Follows a deleted save's chain through deleted entries. A save whose next indices were
// all cleared is rebuilt from its size and the deleted entries after its first. A block
// past the bytes the file held makes it one that can't come back: its data there is lost.
void FollowDeleted(const Frames& f, int first, std::size_t storedBlocks, Ps1SaveState& save) {
  save.intact = true;
  const int expected = BlocksOfSize(save.size);
  if (expected == 0) return Fail(save, IssueKind::kLengthBeyondCard, "its size " + Hex(save.size) + " is not 1 to 15 whole blocks");
  const bool cleared = expected > 1 && f.NextBlock(first) == 0;
  for (int block = first; static_cast<int>(save.blocks.size()) < expected;) {
    save.blocks.push_back(block);
    if (static_cast<int>(save.blocks.size()) == expected) break;
    const int next = cleared ? block + 1 : f.NextBlock(block);
    if (next <= 0 || next > kPs1DataBlocks) return Fail(save, IssueKind::kChainShort, "its chain ends before its size");
    if (std::find(save.blocks.begin(), save.blocks.end(), next) != save.blocks.end())
      return Fail(save, IssueKind::kChainLoop, "the chain comes back to block " + std::to_string(next));
    const std::uint32_t state = f.State(next);
    if (state != ::ps1::kStateDeletedMiddle && state != ::ps1::kStateDeletedLast)
      return Fail(save, IssueKind::kChainIntoFree, "block " + std::to_string(next) + " no longer belongs to it");
    block = next;
  }
  const int last = save.blocks.back();
  if (expected > 1 && f.State(last) != ::ps1::kStateDeletedLast)
    return Fail(save, IssueKind::kChainShort, "its chain doesn't end where its size says");
  FailPastStored(save, storedBlocks);
}

void CheckFrames(const Frames& f, Ps1Directory& dir) {
  if (!f.frame[0].XorValid()) dir.issues.push_back({IssueKind::kBadCheck, "header", "the check byte is wrong"});
  for (int b = 1; b <= kPs1DataBlocks; ++b)
    if (!f.frame[static_cast<std::size_t>(b)].XorValid())
      dir.issues.push_back({IssueKind::kBadCheck, BlockWhere(b), "the directory entry's check byte is wrong"});
}

void ReadSaves(const Frames& f, std::size_t storedBlocks, Ps1Directory& dir) {
  for (int b = 1; b <= kPs1DataBlocks; ++b) {
    const std::uint32_t state = f.State(b);
    if (state != ::ps1::kStateFirst && state != ::ps1::kStateDeletedFirst) continue;
    Ps1SaveState save;
    save.name = f.frame[static_cast<std::size_t>(b)].Name();
    save.deleted = state == ::ps1::kStateDeletedFirst;
    save.size = f.frame[static_cast<std::size_t>(b)].Size();
    dir.saves.push_back(std::move(save));
    if (state == ::ps1::kStateFirst) {
      FollowLive(f, b, static_cast<int>(dir.saves.size() - 1), storedBlocks, dir);
      const Ps1SaveState& s = dir.saves.back();
      for (const auto& [kind, problem] : s.problems)
        dir.issues.push_back({kind, s.name.empty() ? BlockWhere(b) : s.name, problem});
      for (const auto& [block, want] : s.stateFixes)
        dir.issues.push_back({IssueKind::kBadBlockState, s.name,
                              BlockWhere(block) + " is marked " + Hex(f.State(block)) + " where its place in the chain gives " + Hex(want)});
    } else {
      FollowDeleted(f, b, storedBlocks, dir.saves.back());
    }
  }
}

// Blocks in use that no chain reaches, and states no card uses.
void CheckOrphans(const Frames& f, Ps1Directory& dir) {
  for (int b = 1; b <= kPs1DataBlocks; ++b) {
    const std::uint32_t state = f.State(b);
    const bool owned = dir.owner[static_cast<std::size_t>(b)] >= 0;
    dir.free[static_cast<std::size_t>(b)] = !owned && IsFreeState(state);
    if (owned || IsFreeState(state)) continue;
    if (IsLiveState(state))
      dir.issues.push_back({IssueKind::kOrphanedBlock, BlockWhere(b), "marked in use, but no save's chain reaches it"});
    else
      dir.issues.push_back({IssueKind::kOrphanedBlock, BlockWhere(b), "its state " + Hex(state) + " is none a card uses"});
  }
}

void Seal(std::vector<std::uint8_t>& card, int block, const DirFrame& frame) {
  DirFrame sealed = frame;
  sealed.Seal();
  std::memcpy(card.data() + static_cast<std::size_t>(block) * kFrame, sealed.bytes.data(), kFrame);
}

}  // namespace

std::string Ps1SaveState::Problem() const {
  std::string text;
  for (const auto& [kind, problem] : problems) text += (text.empty() ? "" : "; ") + problem;
  return text;
}

int Ps1Directory::FreeBlocks() const {
  return static_cast<int>(std::count(free.begin(), free.end(), true));
}

const Ps1SaveState* Ps1Directory::Find(std::string_view name, bool deleted) const {
  for (const Ps1SaveState& s : saves)
    if (s.deleted == deleted && s.name == name) return &s;
  return nullptr;
}

Ps1Directory ReadPs1Directory(std::span<const std::uint8_t> card, std::size_t stored) {
  Ps1Directory dir;
  dir.owner.fill(-1);
  dir.free.fill(false);
  if (card.size() < kPs1CardBytes) return dir;
  const Frames frames(card);
  const std::size_t storedBlocks = std::min(stored, kPs1CardBytes) / kPs1BlockBytes;
  CheckFrames(frames, dir);
  ReadSaves(frames, storedBlocks, dir);
  CheckOrphans(frames, dir);
  return dir;
}

Ps1Image::Ps1Image(std::vector<std::uint8_t> card, std::size_t stored)
    : card_(std::move(card)), stored_(stored) {
  card_.resize(kPs1CardBytes, 0);
  directory_ = ReadPs1Directory(card_, stored_);
}

DirFrame Ps1Image::Frame(int block) const {
  DirFrame frame;
  if (block >= 0 && block < static_cast<int>(kPs1Blocks))
    std::memcpy(frame.bytes.data(), card_.data() + static_cast<std::size_t>(block) * kFrame, kFrame);
  return frame;
}

std::vector<std::uint8_t> Ps1Image::SaveBytes(const Ps1SaveState& save) const {
  std::vector<std::uint8_t> out;
  out.reserve(save.blocks.size() * kPs1BlockBytes);
  for (int b : save.blocks) {
    const auto from = card_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(b) * kPs1BlockBytes);
    out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(kPs1BlockBytes));
  }
  return out;
}

bool Ps1Image::BlocksMissing() const {
  for (const Ps1SaveState& s : directory_.saves)
    if (!s.deleted && std::any_of(s.blocks.begin(), s.blocks.end(),
                                  [&](int b) { return static_cast<std::size_t>(b + 1) * kPs1BlockBytes > stored_; }))
      return true;
  return false;
}

Ps1Change Ps1Image::Keep(std::vector<std::uint8_t> changed) {
  if (BlocksMissing()) return Ps1Change::kDamaged;
  Ps1Directory after = ReadPs1Directory(changed);
  for (const Issue& i : after.issues) {
    const bool had = std::any_of(directory_.issues.begin(), directory_.issues.end(), [&](const Issue& old) {
      return old.kind == i.kind && old.where == i.where;
    });
    if (!had) return Ps1Change::kCheckFailed;
  }
  card_ = std::move(changed);
  stored_ = kPs1CardBytes;
  directory_ = std::move(after);
  return Ps1Change::kDone;
}

Ps1Change Ps1Image::Import(std::string_view name, std::span<const std::uint8_t> blocks, const DirFrame& frame) {
  if (!::ps1::IsCardFileName(name) || blocks.empty() || blocks.size() % kPs1BlockBytes != 0 ||
      blocks.size() / kPs1BlockBytes > static_cast<std::size_t>(kPs1DataBlocks))
    return Ps1Change::kInvalidSave;
  if (directory_.Find(name)) return Ps1Change::kAlreadyOnCard;
  const std::size_t count = blocks.size() / kPs1BlockBytes;
  std::vector<int> taken;
  for (int b = 1; b <= kPs1DataBlocks && taken.size() < count; ++b)
    if (directory_.free[static_cast<std::size_t>(b)]) taken.push_back(b);
  if (taken.size() < count) return Ps1Change::kNoSpace;

  std::vector<std::uint8_t> changed = card_;
  for (std::size_t k = 0; k < count; ++k) {
    const int block = taken[k];
    DirFrame entry = k == 0 ? frame : DirFrame{};
    entry.SetState(k == 0 ? ::ps1::kStateFirst : k + 1 == count ? ::ps1::kStateLast : ::ps1::kStateMiddle);
    entry.SetSize(k == 0 ? static_cast<std::uint32_t>(blocks.size()) : 0);
    entry.SetNext(k + 1 < count ? static_cast<std::uint16_t>(taken[k + 1] - 1) : ::ps1::kNoNext);
    if (k == 0) entry.SetName(name);
    Seal(changed, block, entry);
    std::memcpy(changed.data() + static_cast<std::size_t>(block) * kPs1BlockBytes, blocks.data() + k * kPs1BlockBytes,
                kPs1BlockBytes);
  }
  return Keep(std::move(changed));
}

Ps1Change Ps1Image::Remove(std::string_view name) {
  const Ps1SaveState* save = directory_.Find(name);
  if (!save) return Ps1Change::kNotFound;
  if (!save->intact) return Ps1Change::kDamaged;
  std::vector<std::uint8_t> changed = card_;
  for (int b : save->blocks) {
    DirFrame entry = Frame(b);
    const std::uint32_t state = entry.State();
    entry.SetState(state == ::ps1::kStateFirst ? ::ps1::kStateDeletedFirst
                   : state == ::ps1::kStateLast ? ::ps1::kStateDeletedLast
                                                : ::ps1::kStateDeletedMiddle);
    Seal(changed, b, entry);
  }
  return Keep(std::move(changed));
}

Ps1Change Ps1Image::Restorable(const Ps1SaveState& save) const {
  // A chain that now runs into a block of another state: another save has had that block.
  const auto reused = [](const auto& p) { return p.first == IssueKind::kChainIntoFree; };
  if (!save.intact)
    return std::any_of(save.problems.begin(), save.problems.end(), reused) ? Ps1Change::kBlocksTaken : Ps1Change::kDamaged;
  for (int b : save.blocks)
    if (!directory_.free[static_cast<std::size_t>(b)]) return Ps1Change::kBlocksTaken;
  return Ps1Change::kDone;
}

Ps1Change Ps1Image::Restore(std::string_view name) {
  if (!directory_.Find(name, /*deleted=*/true)) return Ps1Change::kNotFound;
  if (directory_.Find(name)) return Ps1Change::kAlreadyOnCard;
  // Of several deleted saves of that name, the first that can come back.
  const Ps1SaveState* save = nullptr;
  Ps1Change why = Ps1Change::kNotFound;
  for (const Ps1SaveState& s : directory_.saves) {
    if (!s.deleted || s.name != name) continue;
    const Ps1Change can = Restorable(s);
    if (can == Ps1Change::kDone) {
      save = &s;
      break;
    }
    if (why == Ps1Change::kNotFound) why = can;
  }
  if (!save) return why;
  std::vector<std::uint8_t> changed = card_;
  for (std::size_t k = 0; k < save->blocks.size(); ++k) {
    DirFrame entry = Frame(save->blocks[k]);
    entry.SetState(k == 0 ? ::ps1::kStateFirst : k + 1 == save->blocks.size() ? ::ps1::kStateLast : ::ps1::kStateMiddle);
    // Rebuilt chains get their links back.
    entry.SetNext(k + 1 < save->blocks.size() ? static_cast<std::uint16_t>(save->blocks[k + 1] - 1) : ::ps1::kNoNext);
    Seal(changed, save->blocks[k], entry);
  }
  return Keep(std::move(changed));
}

Ps1Image::Mended Ps1Image::Repair() {
  std::vector<std::uint8_t> changed = card_;
  Mended mended;
  std::array<bool, kPs1Blocks> touched{};
  for (int b = 0; b <= kPs1DataBlocks; ++b) {
    if (Frame(b).XorValid()) continue;
    Seal(changed, b, Frame(b));
    touched[static_cast<std::size_t>(b)] = true;
    ++mended.checks;
  }
  for (const Ps1SaveState& s : directory_.saves)
    for (const auto& [block, want] : s.stateFixes) {
      DirFrame entry = Frame(block);
      entry.SetState(want);
      Seal(changed, block, entry);
      ++mended.states;
    }
  if (mended.checks + mended.states == 0 || Keep(std::move(changed)) != Ps1Change::kDone) return {};
  return mended;
}

}  // namespace card
