#include "support/psv_builder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "formats/psv/psv_sign.h"
#include "model/bytes.h"

namespace testutil {

namespace {
void PutName(Bytes& out, std::size_t offset, const std::string& name, std::uint8_t junk) {
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(offset),
            out.begin() + static_cast<std::ptrdiff_t>(offset + 32), junk);
  const std::size_t n = std::min<std::size_t>(name.size(), 32);
  std::memcpy(&out[offset], name.data(), n);
  if (n < 32) out[offset + n] = 0;
}
}  // namespace

PsvFile MakePsvFile(std::string name, Bytes data, std::uint32_t mode) {
  PsvFile f;
  f.name = std::move(name);
  f.data = std::move(data);
  f.mode = mode;
  return f;
}

Bytes PsvImage::Build() const {
  const std::size_t count = files.size();
  Bytes out(0xA0 + 60 * count, 0);
  std::memcpy(&out[0], "\0VSP", 4);
  std::fill(out.begin() + 8, out.begin() + 28, seedByte);
  bytes::PutU32LE(&out[0x38], kind == 1 ? 0x14 : 0x2C);
  bytes::PutU32LE(&out[0x3C], kind);
  bytes::PutU32LE(&out[0x64], fileCount.value_or(static_cast<std::uint32_t>(count)));
  created.ToBytes(&out[0x68]);
  modified.ToBytes(&out[0x70]);
  bytes::PutU32LE(&out[0x78], static_cast<std::uint32_t>(count + 2));
  bytes::PutU32LE(&out[0x7C], rootMode);
  PutName(out, 0x80, folder, 0);
  for (std::size_t k = 0; k < count; ++k) {
    const PsvFile& f = files[k];
    while (out.size() % 4 != 0) out.push_back(0);
    const std::uint32_t at = f.offset.value_or(static_cast<std::uint32_t>(out.size()));
    const std::size_t r = 0xA0 + 60 * k;
    f.created.ToBytes(&out[r]);
    f.modified.ToBytes(&out[r + 8]);
    bytes::PutU32LE(&out[r + 16], f.size.value_or(static_cast<std::uint32_t>(f.data.size())));
    bytes::PutU32LE(&out[r + 20], f.mode);
    PutName(out, r + 24, f.name, f.nameJunk);
    bytes::PutU32LE(&out[r + 56], at);
    // An offset of its own places the data there (within reason), else it follows.
    if (at + f.data.size() <= (64u << 20)) {
      if (out.size() < at + f.data.size()) out.resize(at + f.data.size(), 0);
      std::copy(f.data.begin(), f.data.end(), out.begin() + at);
    }
  }
  while (out.size() % 4 != 0) out.push_back(0);
  if (const auto signature = psv::Sign(out)) std::copy(signature->begin(), signature->end(), out.begin() + 0x1C);
  if (!validSignature) out[0x1C] ^= 1;
  return out;
}

}  // namespace testutil
