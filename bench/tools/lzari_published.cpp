// moravelt-lzari-published e|d IN OUT: the published LZARI program's two commands, on
// the bench's plain rendering of the published algorithm, so that whole processes can
// be compared with moravelt-cli's. `e` writes the classic file (the input's length as
// 4 bytes, little-endian, then the stream); `d` reads one and writes what it holds.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lzari_baseline.h"

namespace {

bool ReadAll(const char* path, std::vector<std::uint8_t>& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
  return std::fclose(f) == 0;
}

bool WriteAll(const char* path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool written = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  std::vector<std::uint8_t> in;
  if (!ReadAll(argv[2], in)) return 1;
  if (std::strcmp(argv[1], "e") == 0) {
    const std::vector<std::uint8_t> out = bench::BaselineLzariEncode(in);
    return WriteAll(argv[3], out.data(), out.size()) ? 0 : 1;
  }
  if (std::strcmp(argv[1], "d") != 0 || in.size() < 4) return 2;
  const std::uint32_t length = in[0] | in[1] << 8 | in[2] << 16 | static_cast<std::uint32_t>(in[3]) << 24;
  std::vector<std::uint8_t> out(length);
  const std::span<const std::uint8_t> stream(in.data() + 4, in.size() - 4);
  if (bench::BaselineLzariDecode(stream, out.data(), length) != 1) return 1;
  return WriteAll(argv[3], out.data(), out.size()) ? 0 : 1;
}
