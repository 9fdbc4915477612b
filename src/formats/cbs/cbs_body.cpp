#include "formats/cbs/cbs_body.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "model/bytes.h"
#include "model/entry.h"

namespace cbs {

namespace {

// The published initial RC4 state of CodeBreaker bodies.
constexpr std::array<std::uint8_t, 256> kRc4State = {
    0x5F, 0x1F, 0x85, 0x6F, 0x31, 0xAA, 0x3B, 0x18, 0x21, 0xB9, 0xCE, 0x1C, 0x07, 0x4C, 0x9C, 0xB4,
    0x81, 0xB8, 0xEF, 0x98, 0x59, 0xAE, 0xF9, 0x26, 0xE3, 0x80, 0xA3, 0x29, 0x2D, 0x73, 0x51, 0x62,
    0x7C, 0x64, 0x46, 0xF4, 0x34, 0x1A, 0xF6, 0xE1, 0xBA, 0x3A, 0x0D, 0x82, 0x79, 0x0A, 0x5C, 0x16,
    0x71, 0x49, 0x8E, 0xAC, 0x8C, 0x9F, 0x35, 0x19, 0x45, 0x94, 0x3F, 0x56, 0x0C, 0x91, 0x00, 0x0B,
    0xD7, 0xB0, 0xDD, 0x39, 0x66, 0xA1, 0x76, 0x52, 0x13, 0x57, 0xF3, 0xBB, 0x4E, 0xE5, 0xDC, 0xF0,
    0x65, 0x84, 0xB2, 0xD6, 0xDF, 0x15, 0x3C, 0x63, 0x1D, 0x89, 0x14, 0xBD, 0xD2, 0x36, 0xFE, 0xB1,
    0xCA, 0x8B, 0xA4, 0xC6, 0x9E, 0x67, 0x47, 0x37, 0x42, 0x6D, 0x6A, 0x03, 0x92, 0x70, 0x05, 0x7D,
    0x96, 0x2F, 0x40, 0x90, 0xC4, 0xF1, 0x3E, 0x3D, 0x01, 0xF7, 0x68, 0x1E, 0xC3, 0xFC, 0x72, 0xB5,
    0x54, 0xCF, 0xE7, 0x41, 0xE4, 0x4D, 0x83, 0x55, 0x12, 0x22, 0x09, 0x78, 0xFA, 0xDE, 0xA7, 0x06,
    0x08, 0x23, 0xBF, 0x0F, 0xCC, 0xC1, 0x97, 0x61, 0xC5, 0x4A, 0xE6, 0xA0, 0x11, 0xC2, 0xEA, 0x74,
    0x02, 0x87, 0xD5, 0xD1, 0x9D, 0xB7, 0x7E, 0x38, 0x60, 0x53, 0x95, 0x8D, 0x25, 0x77, 0x10, 0x5E,
    0x9B, 0x7F, 0xD8, 0x6E, 0xDA, 0xA2, 0x2E, 0x20, 0x4F, 0xCD, 0x8F, 0xCB, 0xBE, 0x5A, 0xE0, 0xED,
    0x2C, 0x9A, 0xD4, 0xE2, 0xAF, 0xD0, 0xA9, 0xE8, 0xAD, 0x7A, 0xBC, 0xA8, 0xF2, 0xEE, 0xEB, 0xF5,
    0xA6, 0x99, 0x28, 0x24, 0x6C, 0x2B, 0x75, 0x5D, 0xF8, 0xD3, 0x86, 0x17, 0xFB, 0xC0, 0x7B, 0xB3,
    0x58, 0xDB, 0xC7, 0x4B, 0xFF, 0x04, 0x50, 0xE9, 0x88, 0x69, 0xC9, 0x2A, 0xAB, 0xFD, 0x5B, 0x1B,
    0x8A, 0xD9, 0xEC, 0x27, 0x44, 0x0E, 0x33, 0xC8, 0x6B, 0x93, 0x32, 0x48, 0xB6, 0x30, 0x43, 0xA5,
};

}  // namespace

Rc4Stream::Rc4Stream() : s_(kRc4State) {}

void Rc4Stream::Apply(std::span<std::uint8_t> bytes) {
  std::array<std::uint8_t, 256>& s = s_;
  std::uint8_t i = i_;
  std::uint8_t j = j_;
  for (std::uint8_t& b : bytes) {
    i = static_cast<std::uint8_t>(i + 1);
    j = static_cast<std::uint8_t>(j + s[i]);
    std::swap(s[i], s[j]);
    b ^= s[static_cast<std::uint8_t>(s[i] + s[j])];
  }
  i_ = i;
  j_ = j;
}

void Rc4(std::span<std::uint8_t> bytes) { Rc4Stream().Apply(bytes); }

InflateResult DecodeBody(std::span<const std::uint8_t> body, std::uint32_t decompressedSize,
                         std::vector<std::uint8_t>& records) {
  records.clear();
  std::vector<std::uint8_t> stream;
  try {
    stream.assign(body.begin(), body.end());
  } catch (const std::bad_alloc&) {
    return InflateResult::kNoMemory;
  }
  Rc4(stream);
  // The records' heads are counted as they arrive: a short body of empty records that would
  // make more files than a save folder holds is refused within its first piece.
  std::uint64_t next = 0;  // where the next record's head starts
  std::uint32_t count = 0;
  const InflateWatch watch = [&next, &count](std::span<const std::uint8_t> soFar) {
    for (; next + kRecordHeadSize <= soFar.size(); ++count) {
      if (count == kMaxSaveFiles) return false;
      next += kRecordHeadSize + bytes::GetU32LE(soFar.data() + next + kRecordSizeOffset);
    }
    return true;
  };
  return ZlibInflate(stream, decompressedSize, records, watch);
}

std::optional<std::vector<std::uint8_t>> EncodeBody(std::span<const std::uint8_t> records) {
  std::optional<std::vector<std::uint8_t>> body = ZlibDeflate(records);
  if (body) Rc4(*body);
  return body;
}

std::optional<std::vector<Record>> ParseRecords(std::span<const std::uint8_t> records) {
  std::vector<Record> files;
  bytes::Reader in(records);
  while (in.remaining() > 0) {
    const std::uint8_t* head = in.Need(kRecordHeadSize);
    if (!head) return std::nullopt;
    Record r;
    std::memcpy(r.created.data(), head + kRecordCreatedOffset, kTimeSize);
    std::memcpy(r.modified.data(), head + kRecordModifiedOffset, kTimeSize);
    r.mode = bytes::GetU32LE(head + kRecordModeOffset);
    const char* name = reinterpret_cast<const char*>(head + kRecordNameOffset);
    r.name.assign(name, std::find(name, name + kRecordNameSize, '\0'));
    const std::uint32_t size = bytes::GetU32LE(head + kRecordSizeOffset);
    const std::uint8_t* data = in.Need(size);
    if (!data) return std::nullopt;
    r.data = std::span<const std::uint8_t>(data, size);
    files.push_back(std::move(r));
  }
  return files;
}

std::optional<std::vector<std::uint8_t>> BuildRecords(std::span<const Record> files) {
  std::uint64_t total = 0;
  for (const Record& r : files) {
    if (r.name.size() > kRecordNameSize || r.name.find('\0') != std::string::npos)
      return std::nullopt;
    total += kRecordHeadSize + r.data.size();
  }
  if (total > zstream::kMaxInflated) return std::nullopt;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(total));
  std::uint8_t* p = out.data();
  for (const Record& r : files) {
    std::memcpy(p + kRecordCreatedOffset, r.created.data(), kTimeSize);
    std::memcpy(p + kRecordModifiedOffset, r.modified.data(), kTimeSize);
    bytes::PutU32LE(p + kRecordSizeOffset, static_cast<std::uint32_t>(r.data.size()));
    bytes::PutU32LE(p + kRecordModeOffset, r.mode);
    std::memcpy(p + kRecordNameOffset, r.name.data(), r.name.size());
    p += kRecordHeadSize;
    if (!r.data.empty()) std::memcpy(p, r.data.data(), r.data.size());
    p += r.data.size();
  }
  return out;
}

}  // namespace cbs
