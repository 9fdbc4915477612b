// What every fuzz target shares: a scratch folder for the process, the input written to
// a file there (the loaders read files), and the load-then-convert round with its checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace fuzz {

// The process's scratch folder, made on first use and removed at exit.
const std::string& ScratchDir();

// Writes the bytes to a file named `name` in the scratch folder and returns its path.
std::string WriteInput(std::span<const std::uint8_t> bytes, std::string_view name);

// Loads the bytes as a container with this extension; a loader that asks a question is
// run twice, answered No and then Yes. Every loaded save is converted to each writable
// format and read back. A broken invariant aborts with a message, which the fuzzer reports.
void LoadAndConvertBytes(std::span<const std::uint8_t> bytes, std::string_view extension);

// Aborts with the message when it is not empty.
void Require(const std::string& failure, std::string_view where);

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
