#include "support/xps_builder.h"

#include <algorithm>
#include <cstring>

#include "model/bytes.h"

namespace testutil {

namespace {

void PutU32(Bytes& out, std::uint32_t v) {
  std::uint8_t b[4];
  bytes::PutU32LE(b, v);
  out.insert(out.end(), b, b + 4);
}

void PutText(Bytes& h, std::size_t offset, const std::string& text, std::size_t field) {
  std::memcpy(&h[offset], text.data(), std::min(text.size(), field));
}

}  // namespace

XpsEntryRecord XpsImage::DefaultRoot() {
  XpsEntryRecord root;
  root.name = "BESLES-12345SAVE";
  root.mode = 0x8427;
  root.title = "Save title";
  root.rawTitle = "Save title";
  root.itemCount = 0;
  return root;
}

XpsEntryRecord XpsFile(const std::string& name, Bytes data) {
  XpsEntryRecord f;
  f.name = name;
  f.title = name;
  f.rawTitle = name;
  f.data = std::move(data);
  return f;
}

Bytes XpsHeader(const XpsEntryRecord& e, std::uint32_t size) {
  Bytes h(std::max<std::size_t>(250, e.headerLength), e.filler);
  std::fill(h.begin(), h.begin() + 0x62, 0);
  std::fill(h.begin() + 0x66, h.begin() + 0xF2, 0);
  bytes::PutU16LE(&h[0x00], e.headerLength);
  PutText(h, 0x02, e.name, 64);
  bytes::PutU32LE(&h[0x42], size);
  bytes::PutU32LE(&h[0x46], e.aux2);
  bytes::PutU32LE(&h[0x4A], e.aux1);
  bytes::PutU16BE(&h[0x4E], e.mode);
  bytes::PutU16BE(&h[0x50], e.modeTail);
  e.created.ToBytes(&h[0x52]);
  e.modified.ToBytes(&h[0x5A]);
  bytes::PutU32LE(&h[0x66], e.itemCount);
  e.extraTime.ToBytes(&h[0x6A]);
  PutText(h, 0x72, e.title, 64);
  PutText(h, 0xB2, e.rawTitle, 64);
  return h;
}

std::uint32_t ReferenceXpsChecksum(const std::uint8_t* p, std::size_t n) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t shift = sum % 24;
    sum = static_cast<std::uint32_t>(sum + (static_cast<std::uint64_t>(p[i]) << shift));
  }
  return sum;
}

std::size_t XpsImage::DataAreaStart() const {
  return 24 + magic.size() + title.size() + subtitle.size() + comment.size();
}

Bytes XpsImage::Build() const {
  Bytes area;
  auto append = [&area](const Bytes& b) { area.insert(area.end(), b.begin(), b.end()); };
  append(XpsHeader(root, root.size.value_or(static_cast<std::uint32_t>(files.size() + 2))));
  for (const XpsEntryRecord& f : files) {
    append(XpsHeader(f, f.size.value_or(static_cast<std::uint32_t>(f.data.size()))));
    append(f.data);
  }
  std::uint32_t length = dataLength.value_or(static_cast<std::uint32_t>(area.size()));

  Bytes out;
  PutU32(out, magicLength.value_or(static_cast<std::uint32_t>(magic.size())));
  out.insert(out.end(), magic.begin(), magic.end());
  PutU32(out, zeroWord);
  for (const std::string* text : {&title, &subtitle, &comment}) {
    PutU32(out, static_cast<std::uint32_t>(text->size()));
    out.insert(out.end(), text->begin(), text->end());
  }
  PutU32(out, length);
  out.insert(out.end(), area.begin(), area.end());
  if (withChecksum)
    PutU32(out, ReferenceXpsChecksum(area.data(), std::min<std::size_t>(length, area.size())));
  return out;
}

}  // namespace testutil
