#include "support/max_builder.h"

#include <algorithm>
#include <cstring>

#include "formats/crc32.h"
#include "model/bytes.h"
#include "support/lzari_encoder.h"

namespace testutil {

namespace {
void PutText(Bytes& out, std::size_t offset, const std::string& text, std::size_t width) {
  std::memcpy(&out[offset], text.data(), std::min(text.size(), width));
}
}  // namespace

Bytes MaxImage::Payload() const {
  Bytes out;
  std::size_t start = 0;
  for (const MaxFile& f : files) {
    if (out.size() < start) out.resize(start, gapByte);
    std::size_t head = out.size();
    out.resize(head + 36, 0);
    bytes::PutU32LE(&out[head], static_cast<std::uint32_t>(f.data.size()));
    PutText(out, head + 4, f.name, 32);
    out.insert(out.end(), f.data.begin(), f.data.end());
    // The next record: at or after this one's end, at an offset whose value plus 8 is a
    // multiple of 16.
    std::size_t end = out.size();
    start = end;
    while ((start + 8) % 16 != 0) ++start;
  }
  if (padLast && !files.empty()) out.resize(start, gapByte);
  return out;
}

Bytes MaxImage::Build() const {
  Bytes payload = Payload();
  Bytes coded = stream ? *stream : LzariCompress(payload);
  Bytes out(92 + coded.size(), 0);
  std::copy(coded.begin(), coded.end(), out.begin() + 92);
  PutText(out, 0, signature, 12);
  PutText(out, 16, folder, 32);
  bytes::PutU32LE(&out[80], static_cast<std::uint32_t>(coded.size() + 4));
  bytes::PutU32LE(&out[84], fileCount.value_or(static_cast<std::uint32_t>(files.size())));
  bytes::PutU32LE(&out[88], payloadLength.value_or(static_cast<std::uint32_t>(payload.size())));
  FixMaxCrc(out);
  if (!validCrc) bytes::PutU32LE(&out[12], bytes::GetU32LE(&out[12]) + 1);
  return out;
}

std::uint32_t MaxCrc(const Bytes& image) {
  Bytes copy = image;
  for (std::size_t i = 12; i < 16 && i < copy.size(); ++i) copy[i] = 0;
  return Crc32(copy);
}

void FixMaxCrc(Bytes& image) { bytes::PutU32LE(&image[12], MaxCrc(image)); }

}  // namespace testutil
