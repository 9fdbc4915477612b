#include "card/image_write.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "card/card_time.h"
#include "card/folder_card.h"
#include "io/output_file.h"
#include "io/file.h"
#include "io/path.h"
#include "model/bytes.h"
#include "model/count_text.h"

namespace card {

namespace {

constexpr std::uint64_t kPagesPerPiece = 2048;  // about 1 MiB at a time

// The spare area of an erased page.
void EraseSpare(std::uint8_t* spare) { std::memset(spare, 0xFF, kPageSpare); }

void ComputeSpare(std::uint8_t* page) {
  ComputePageSpare(std::span<const std::uint8_t, kPageData>(page, kPageData),
                   std::span<std::uint8_t, kPageSpare>(page + kPageData, kPageSpare));
}

bool AllErased(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

bool ReadImagePage(const io::ByteSource& image, const Geometry& g, std::uint64_t page,
                   std::span<std::uint8_t, kPageData> data) {
  std::array<std::uint8_t, kPageData + kPageSpare> raw;
  if (page >= g.Pages() ||
      !image.ReadAt(g.PageOffset(page), std::span(raw.data(), static_cast<std::size_t>(g.PageStride()))))
    return false;
  std::memcpy(data.data(), raw.data(), kPageData);
  if (g.ecc) CheckPage(data, std::span(raw).subspan<kPageData, kPageSpare>());
  return true;
}

bool ForEachImagePage(const io::ByteSource& image, const Geometry& g,
                      const std::function<void(std::uint64_t, std::span<const std::uint8_t>)>& visit) {
  const std::size_t stride = static_cast<std::size_t>(g.PageStride());
  std::vector<std::uint8_t> buffer(image.data() ? 0 : kPagesPerPiece * stride);
  image.Advise(io::Access::kInOrder);  // every page, from the first on
  for (std::uint64_t first = 0; first < g.Pages(); first += kPagesPerPiece) {
    const std::uint64_t count = std::min(kPagesPerPiece, g.Pages() - first);
    const std::size_t n = static_cast<std::size_t>(count) * stride;
    const std::uint64_t at = first * stride;
    const std::uint8_t* pages = buffer.data();
    if (image.data() && at <= image.size() && n <= image.size() - at)
      pages = image.data() + at;
    else if (image.data() || !image.ReadAt(at, std::span(buffer.data(), n)))
      return false;
    for (std::uint64_t k = 0; k < count; ++k)
      visit(first + k, std::span<const std::uint8_t>(pages + k * stride, stride));
  }
  return true;
}

std::optional<Issue> NewDamage(const std::vector<Issue>& before, const std::vector<Issue>& after) {
  std::set<std::pair<IssueKind, std::string>> had;
  for (const Issue& i : before) had.insert({i.kind, i.where});
  for (const Issue& i : after)
    if (i.severity() != Severity::kNotice && !had.count({i.kind, i.where})) return i;
  return std::nullopt;
}

bool AcceptWithoutNewDamage(const io::SourcePtr& newImage, const std::vector<Issue>& before,
                            std::string_view cardName, std::string& why, ImageState* after, bool hold) {
  ImageState scanned = ScanImage(newImage, std::nullopt, hold);
  const std::optional<Issue> damage = NewDamage(before, scanned.issues);
  if (after) *after = std::move(scanned);
  if (!damage) return true;
  why = "the new " + std::string(io::FileNameOf(cardName)) + " read back with damage the old one does not have (" +
        (damage->where.empty() ? "" : damage->where + ": ") + damage->message + ")";
  return false;
}

WriteResult RewriteImage(const io::ByteSource& image, const Geometry& g, const PagePatches& patches,
                         io::ByteSink& out, const AcceptImage& accept) {
  if (image.size() != g.ImageSize()) return WriteResult::kFailed;
  // A file is written under a new name beside the card, renamed over it at the end: on any
  // failure the card is left as it was.
  if (!out.ok()) return WriteResult::kFailed;
  image.Advise(io::Access::kInOrder);  // every page, from the first on
  const std::size_t stride = static_cast<std::size_t>(g.PageStride());
  std::vector<std::uint8_t> buffer(kPagesPerPiece * stride);
  // The console erases and programs whole blocks: the erased pages of a block it writes
  // come out as 0xFF with their code, and so they do here.
  std::vector<bool> touched(static_cast<std::size_t>(g.Pages() / kPagesPerBlock), false);
  for (const auto& [page, data] : patches)
    if (page < g.Pages()) touched[static_cast<std::size_t>(page / kPagesPerBlock)] = true;
  auto patch = patches.begin();
  for (std::uint64_t first = 0; first < g.Pages(); first += kPagesPerPiece) {
    const std::uint64_t count = std::min(kPagesPerPiece, g.Pages() - first);
    const std::size_t n = static_cast<std::size_t>(count) * stride;
    if (!image.ReadAt(first * stride, std::span(buffer.data(), n))) {
      out.Fail();
      return WriteResult::kFailed;
    }
    for (; patch != patches.end() && patch->first < first + count; ++patch) {
      std::uint8_t* p = buffer.data() + (patch->first - first) * stride;
      std::memcpy(p, patch->second.data(), kPageData);
      if (g.ecc) ComputeSpare(p);
    }
    for (std::uint64_t k = 0; g.ecc && k < count; ++k) {
      std::uint8_t* p = buffer.data() + k * stride;
      if (touched[static_cast<std::size_t>((first + k) / kPagesPerBlock)] && AllErased(p, stride)) ComputeSpare(p);
    }
    if (!out.Write(buffer.data(), n)) return WriteResult::kFailed;
  }
  if (accept) {
    const io::SourcePtr written = out.WrittenBytes();
    if (!written) return WriteResult::kFailed;
    if (!accept(written)) {
      out.Fail();
      return WriteResult::kRefused;
    }
  }
  return out.Commit() == io::Committed::kWritten ? WriteResult::kWritten : WriteResult::kFailed;
}

bool BuildFreshImage(const FreshLayout& l, bool ecc, const EntryTime& time,
                     const std::function<bool(std::span<const std::uint8_t>)>& sink) {
  const Geometry g{l.clusters, ecc};
  const std::size_t stride = static_cast<std::size_t>(g.PageStride());
  const std::uint64_t ifcFirst = 8 * kPagesPerCluster;
  const std::uint64_t fatFirst = ifcFirst + std::uint64_t{l.ifcClusters} * kPagesPerCluster;
  const std::uint64_t fatEnd = fatFirst + std::uint64_t{l.fatClusters} * kPagesPerCluster;
  const std::uint64_t rootPage = std::uint64_t{l.allocOffset} * kPagesPerCluster;
  constexpr std::uint32_t kWordsPerPage = kPageData / 4;
  const std::array<std::uint8_t, kPageData> superblock = FreshSuperblock(l);

  // The root directory: "." counting two entries, and "..".
  DirEntry dot;
  dot.mode = EntryMode::kNewDirectory;
  dot.length = 2;
  dot.created = dot.modified = time;
  dot.SetName(".");
  DirEntry dotdot = dot;
  dotdot.mode = 0xA426;  // the root's "..", as the console writes it
  dotdot.length = 0;
  dotdot.SetName("..");

  std::vector<std::uint8_t> buffer(kPagesPerPiece * stride);
  for (std::uint64_t first = 0; first < g.Pages(); first += kPagesPerPiece) {
    const std::uint64_t count = std::min(kPagesPerPiece, g.Pages() - first);
    for (std::uint64_t k = 0; k < count; ++k) {
      const std::uint64_t page = first + k;
      std::uint8_t* p = buffer.data() + k * stride;
      bool written = true;
      std::memset(p, 0xFF, kPageData);
      if (page == 0) {
        std::memcpy(p, superblock.data(), kPageData);
      } else if (page < kPagesPerBlock) {
        // The rest of the superblock's block: 0xFF, written with its code.
      } else if (page >= ifcFirst && page < fatFirst) {
        const std::uint64_t base = (page - ifcFirst) * kWordsPerPage;
        for (std::uint32_t w = 0; w < kWordsPerPage; ++w) {
          const std::uint64_t fatCluster = base + w;
          if (fatCluster < l.fatClusters)
            bytes::PutU32LE(p + 4 * w, static_cast<std::uint32_t>(fatFirst / kPagesPerCluster + fatCluster));
        }
      } else if (page >= fatFirst && page < fatEnd) {
        const std::uint64_t base = (page - fatFirst) * kWordsPerPage;
        for (std::uint32_t w = 0; w < kWordsPerPage; ++w) {
          const std::uint64_t n = base + w;
          // Cluster 0 holds the root; the rest of the allocation area is free.
          bytes::PutU32LE(p + 4 * w, n == 0 ? kFatEnd : n < l.allocEnd ? kFatFresh : kFatEnd);
        }
      } else if (page == rootPage || page == rootPage + 1) {
        std::memset(p, 0, kPageData);
        (page == rootPage ? dot : dotdot).Write(p);
      } else {
        // Unwritten, except in the blocks the format programs (up to the root's).
        written = page / kPagesPerBlock <= rootPage / kPagesPerBlock;
      }
      if (ecc) {
        if (written)
          ComputeSpare(p);
        else
          EraseSpare(p + kPageData);
      }
    }
    if (!sink(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(count) * stride))) return false;
  }
  return true;
}

FormatResult FormatImage(const std::string& path, const FormatOptions& options) {
  if (std::find(kFormatSizes.begin(), kFormatSizes.end(), options.megabytes) == kFormatSizes.end())
    return FormatResult::kBadSize;
  if (!options.overwrite && io::Exists(path)) return FormatResult::kTargetExists;
  io::OutputFile out(path, /*inPlace=*/false);
  return FormatImage(out, options);
}

FormatResult FormatImage(io::ByteSink& out, const FormatOptions& options) {
  if (std::find(kFormatSizes.begin(), kFormatSizes.end(), options.megabytes) == kFormatSizes.end())
    return FormatResult::kBadSize;
  if (!out.ok()) return FormatResult::kWriteFailed;
  const FreshLayout layout = LayoutFor(options.megabytes * 1024);
  const bool built = BuildFreshImage(layout, options.ecc, options.time.value_or(JapanNow()),
                                     [&out](std::span<const std::uint8_t> piece) { return out.Write(piece); });
  if (!built) return FormatResult::kWriteFailed;
  return out.Commit() == io::Committed::kWritten ? FormatResult::kFormatted : FormatResult::kWriteFailed;
}

ConvertResult ConvertImage(const std::string& source, const std::string& target, bool ecc, bool force,
                           std::string* detail) {
  if (io::Exists(io::JoinPath(source, kFolderSuperblock))) return ConvertResult::kFolderCard;
  const io::SourcePtr image = io::OpenSource(source);
  if (!image) return ConvertResult::kNotAnImage;
  io::OutputFile out(target, /*inPlace=*/false);
  out.ReleaseBeforeReplacing(image);
  return ConvertImage(image, out, ecc, force, detail);
}

ConvertResult ConvertImage(const io::SourcePtr& source, io::ByteSink& out, bool ecc, bool force, std::string* detail) {
  std::array<std::uint8_t, sb::kClustersOffset + 4> head{};
  const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), source->size()));
  if (!source->ReadAt(0, std::span(head.data(), got))) return ConvertResult::kNotAnImage;
  const ImageClass c = ClassifyImage(std::span(head.data(), got), source->size());
  if (c.kind != ImageKind::kCard) return ConvertResult::kNotAnImage;
  const Geometry from = c.geometry;
  if (from.ecc == ecc) return ConvertResult::kAlreadyThatLayout;
  const std::vector<Issue> before = ScanImage(source).issues;
  if (!out.ok()) return ConvertResult::kWriteFailed;
  std::array<std::uint8_t, kPageData + kPageSpare> page;
  std::vector<std::uint64_t> uncorrectable;
  const bool read = ForEachImagePage(*source, from, [&](std::uint64_t index, std::span<const std::uint8_t> raw) {
    std::memcpy(page.data(), raw.data(), kPageData);
    if (from.ecc) {
      // To raw: the data as the console reads it, one wrong bit corrected; page 1 of a
      // PCSX2 image carries no code for its data and is taken as it is. A page that can't
      // be corrected loses the only sign of its damage.
      if (index != 1 && CheckPage(std::span(page).first<kPageData>(), raw.subspan(kPageData).first<kPageSpare>()) ==
                            EccStatus::kUncorrectable)
        uncorrectable.push_back(index);
      out.Write(page.data(), kPageData);
      return;
    }
    // To ECC: erased pages stay erased, every other page gets its code.
    if (AllErased(page.data(), kPageData))
      EraseSpare(page.data() + kPageData);
    else
      ComputeSpare(page.data());
    out.Write(page.data(), page.size());
  });
  if (!read) {
    out.Fail();
    return ConvertResult::kWriteFailed;
  }
  std::string why;
  if (!uncorrectable.empty() && !force) {
    why = text::NumberList("page", "pages", uncorrectable);
    out.Fail();
  } else if (const io::SourcePtr written = out.WrittenBytes(); !written) {
    return ConvertResult::kWriteFailed;
  } else if (!AcceptWithoutNewDamage(written, before, source->name(), why)) {
    out.Fail();
  }
  if (detail) *detail = why;
  if (!why.empty()) return uncorrectable.empty() || force ? ConvertResult::kWouldDamage : ConvertResult::kUncorrectable;
  return out.Commit() == io::Committed::kWritten ? ConvertResult::kConverted : ConvertResult::kWriteFailed;
}

}  // namespace card
