#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "io/file.h"
#include "io/fs_path.h"
#include "support/exercise.h"

namespace fuzz {

namespace {

std::filesystem::path MakeScratch() {
  std::random_device rd;
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path dir = base / ("moravelt-fuzz-" + std::to_string(rd()));
    if (std::filesystem::create_directory(dir)) return dir;
  }
}

struct Scratch {
  std::filesystem::path path = MakeScratch();
  std::string text = io::FromFsPath(path);
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

const std::string& ScratchDir() {
  static Scratch scratch;
  return scratch.text;
}

std::string WriteInput(std::span<const std::uint8_t> bytes, std::string_view name) {
  std::string path = io::FromFsPath(io::ToFsPath(ScratchDir()) / std::string(name));
  io::File out = io::File::OpenWrite(path);
  if (!out || !out.Write(bytes.data(), bytes.size()) || !out.Close()) {
    std::fprintf(stderr, "cannot write the input to %s\n", path.c_str());
    std::abort();
  }
  return path;
}

void Require(const std::string& failure, std::string_view where) {
  if (failure.empty()) return;
  std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(where.size()), where.data(), failure.c_str());
  std::abort();
}

void LoadAndConvertBytes(std::span<const std::uint8_t> bytes, std::string_view extension) {
  std::string path = WriteInput(bytes, "input." + std::string(extension));
  testutil::LoadOutcome declined = testutil::LoadAndConvert(path, extension, false, ScratchDir());
  Require(testutil::CheckOutcome(declined), "answered No");
  if (declined.questions > 0) {
    testutil::LoadOutcome accepted = testutil::LoadAndConvert(path, extension, true, ScratchDir());
    Require(testutil::CheckOutcome(accepted), "answered Yes");
  }
  io::RemoveFile(path);
}

}  // namespace fuzz
