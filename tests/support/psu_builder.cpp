#include "support/psu_builder.h"

#include <cstring>

#include "model/bytes.h"

namespace testutil {

Bytes PsuHeader(std::uint32_t mode, std::uint32_t size, const EntryTime& created,
                const EntryTime& modified, const std::string& name) {
  Bytes h(512, 0);
  bytes::PutU32LE(&h[0], mode);
  bytes::PutU32LE(&h[4], size);
  created.ToBytes(&h[8]);
  modified.ToBytes(&h[0x18]);
  std::memcpy(&h[0x40], name.data(), name.size() < 32 ? name.size() : 32);
  return h;
}

Bytes PsuImage::Build() const {
  Bytes out;
  int serial = 0;
  auto append = [&](Bytes h) {
    if (fillIgnored) {
      std::uint8_t v = static_cast<std::uint8_t>(0xA0 + serial);
      for (std::size_t i = 0x10; i < 0x18; ++i) h[i] = v;
      for (std::size_t i = 0x20; i < 0x40; ++i) h[i] = static_cast<std::uint8_t>(v + 1);
      for (std::size_t i = 0x60; i < 0x200; ++i) h[i] = static_cast<std::uint8_t>(v + 2);
    }
    ++serial;
    out.insert(out.end(), h.begin(), h.end());
  };
  append(PsuHeader(rootMode, static_cast<std::uint32_t>(files.size() + 2), created, modified, folder));
  append(PsuHeader(rootMode, 0, created, modified, "."));
  append(PsuHeader(rootMode, 0, created, modified, ".."));
  for (const PsuFile& f : files) {
    append(PsuHeader(f.mode, static_cast<std::uint32_t>(f.data.size()), f.created, f.modified, f.name));
    out.insert(out.end(), f.data.begin(), f.data.end());
    std::size_t pad = (1024 - f.data.size() % 1024) % 1024;
    out.insert(out.end(), pad, padByte);
  }
  return out;
}

}  // namespace testutil
