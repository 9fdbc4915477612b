// The paths of the standard library's filesystem, for the io layer itself (and tests that
// build trees of files): UTF-8 text understood on every platform.
#pragma once

#include <filesystem>
#include <string>

namespace io {

std::filesystem::path ToFsPath(const std::string& utf8);
std::string FromFsPath(const std::filesystem::path& path);

}  // namespace io
