// Whole-image passes over a card image's bytes (a file, or memory): reading one page,
// visiting every page, rewriting the image with some pages changed, and making a fresh
// image.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>
#include <span>
#include <string>

#include "card/image_card.h"
#include "card/layout.h"
#include "io/byte_source.h"
#include "io/output_file.h"

namespace card {

// Reads page `page`'s data, corrected with its ECC where it can be; false when it can't be read.
bool ReadImagePage(const io::ByteSource& image, const Geometry& g, std::uint64_t page,
                   std::span<std::uint8_t, kPageData> data);

// Calls visit(page, its stored bytes: data and, with ECC, spare) for every page in order;
// false when the file ends early.
bool ForEachImagePage(const io::ByteSource& image, const Geometry& g,
                      const std::function<void(std::uint64_t, std::span<const std::uint8_t>)>& visit);

// Reads back a new image (the bytes written so far) before it replaces the old one: true
// lets it take the old one's place.
using AcceptImage = std::function<bool(const io::SourcePtr& newImage)>;

// Writes a copy of the image to `out` with each patched page's data replaced (and its ECC
// computed), and commits it once `accept` (when given) has taken it: a file's temporary
// copy then replaces the old one in one rename. The image must have the size `g` describes.
WriteResult RewriteImage(const io::ByteSource& image, const Geometry& g, const PagePatches& patches,
                         io::ByteSink& out, const AcceptImage& accept = nullptr);

// The first issue of `after` worse than a notice that `before` has not (same kind, same
// place): the damage a change would bring. None when the change brings none.
std::optional<Issue> NewDamage(const std::vector<Issue>& before, const std::vector<Issue>& after);

// Scans a new image and compares it with the issues of the old one, the card `cardName`;
// on new damage, false and `why` names the card's file and the damage. `after` (when
// given) gets what the scan found, the new image held when `hold`.
bool AcceptWithoutNewDamage(const io::SourcePtr& newImage, const std::vector<Issue>& before,
                            std::string_view cardName, std::string& why, ImageState* after = nullptr,
                            bool hold = false);

// The bytes of a freshly formatted image, in pieces, in order; false when the sink refused.
bool BuildFreshImage(const FreshLayout& layout, bool ecc, const EntryTime& time,
                     const std::function<bool(std::span<const std::uint8_t>)>& sink);

}  // namespace card
