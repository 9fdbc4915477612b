#include "support/test_util.h"

#include <atomic>
#include <fstream>
#include <random>
#include <stdexcept>

#include "io/file.h"
#include "io/fs_path.h"
#include "model/icon_sys.h"

namespace testutil {

LoadResult LoadAsking(CSaveGame& save, const std::string& path, const std::function<bool(const LoadQuestion&)>& answer) {
  const io::SourcePtr source = io::OpenSource(path);
  if (!source) return save.Load(path);
  const LoadResult result = LoadWithAnswers(save, source, answer);
  source->Release();
  return result;
}

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path()) {}

TempDir::TempDir(const std::filesystem::path& base) {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  for (;;) {
    auto candidate = base /
                     ("moravelt-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return io::FromFsPath(path_ / io::ToFsPath(name));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(io::ToFsPath(path), std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot read " + path);
  // In one piece: a byte-by-byte copy takes seconds for a large save in the sanitizer build.
  Bytes bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
    throw std::runtime_error("cannot read " + path);
  return bytes;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(io::ToFsPath(path), std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes MakeBytes(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return out;
}

std::filesystem::path FastTempBase() {
  std::error_code ec;
  std::filesystem::path shm("/dev/shm");
  if (std::filesystem::is_directory(shm, ec)) {
    std::filesystem::path probe = shm / ("moravelt-probe-" + std::to_string(std::random_device{}()));
    if (std::filesystem::create_directory(probe, ec)) {
      std::filesystem::remove(probe, ec);
      return shm;
    }
  }
  return std::filesystem::temp_directory_path();
}

Bytes FromString(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string CorpusPath(const std::string& relative) {
  std::filesystem::path p = std::filesystem::path(MORAVELT_CORPUS_DIR) / relative;
  std::error_code ec;
  return std::filesystem::is_regular_file(p, ec) ? p.string() : std::string();
}

Bytes MakeIconSys(const std::string& rawTitle) {
  Bytes b(kIconSysSize, 0);
  b[0] = 'P';
  b[1] = 'S';
  b[2] = '2';
  b[3] = 'D';
  for (std::size_t i = 0; i < rawTitle.size() && i < kIconSysTitleField; ++i)
    b[kIconSysTitleOffset + i] = static_cast<std::uint8_t>(rawTitle[i]);
  return b;
}

EntryTime MakeTime(int year, int month, int day, int hour, int minute, int second) {
  EntryTime t;
  t.year = static_cast<std::uint16_t>(year);
  t.month = static_cast<std::uint8_t>(month);
  t.day = static_cast<std::uint8_t>(day);
  t.hour = static_cast<std::uint8_t>(hour);
  t.minute = static_cast<std::uint8_t>(minute);
  t.second = static_cast<std::uint8_t>(second);
  return t;
}

}  // namespace testutil
