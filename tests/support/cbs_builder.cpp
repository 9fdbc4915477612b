#include "support/cbs_builder.h"

#include <algorithm>
#include <cstring>

#include "formats/cbs/cbs_body.h"
#include "formats/cbs/zlib_stream.h"
#include "model/bytes.h"

namespace testutil {

namespace {
void PutText(Bytes& out, std::size_t offset, const std::string& text, std::size_t width) {
  std::memcpy(&out[offset], text.data(), std::min(text.size(), width));
}
}  // namespace

Bytes CbsImage::Records() const {
  Bytes out;
  for (const CbsFile& f : files) {
    Bytes head(64, 0);
    f.created.ToBytes(&head[0]);
    f.modified.ToBytes(&head[8]);
    bytes::PutU32LE(&head[16], static_cast<std::uint32_t>(f.data.size()));
    bytes::PutU32LE(&head[20], f.mode);
    PutText(head, 32, f.name, 32);
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), f.data.begin(), f.data.end());
  }
  return out;
}

Bytes CbsImage::Build() const {
  const Bytes plain = records ? *records : Records();
  Bytes body = stream ? *stream : *ZlibDeflate(plain);
  cbs::Rc4(body);
  Bytes out(0x128, 0);
  std::memcpy(&out[0], "CFU\0", 4);
  bytes::PutU32LE(&out[0x04], 0x1F40);
  bytes::PutU32LE(&out[0x08], bodyStart.value_or(0x128));
  bytes::PutU32LE(&out[0x0C], inflatedSize.value_or(static_cast<std::uint32_t>(plain.size())));
  const auto whole = static_cast<std::uint32_t>(out.size() + body.size());
  bytes::PutU32LE(&out[0x10], bodyLengthWord ? static_cast<std::uint32_t>(body.size()) : whole);
  PutText(out, 0x14, folder, 32);
  created.ToBytes(&out[0x34]);
  modified.ToBytes(&out[0x3C]);
  bytes::PutU32LE(&out[0x48], rootMode);
  PutText(out, 0x5C, title, 72);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace testutil
