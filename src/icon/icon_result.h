// What every reader and drawer of the icon module returns: the value, or the one cause
// of its failure with a message written where the failure was found.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace icon {

// One code per cause, so that a front end can word or sort them as it likes; the
// message already says it in full, with the numbers that matter.
enum class Fault {
  // icon.sys
  kIconSysSize,       // not the 964 bytes of a PS2D icon.sys
  kIconSysMagic,      // no "PS2D" (the text form "PS2X" among them)
  // icon file
  kIconMagic,         // the first word is not 0x00010000
  kTruncated,         // the file ends inside a structure (header, vertices, animation, texture)
  kShapeCount,        // no shapes, or more than a vertex can carry
  kVertexCount,       // not a multiple of 3, or more than the file holds
  kFrameCount,        // animation frames or keys beyond what the file holds
  kRleOverrun,        // an RLE literal run passes the end of the file
  kNoTexture,         // the texture was asked for, but the icon has none
  // the save
  kNoIconSys,         // the save has no entry named icon.sys
  kNoIconName,        // icon.sys names no file for the icon asked for
  kIconMissing,       // the named icon file is not among the save's entries
  kTooLarge,          // an entry larger than any icon file could be
  kReadFailed,        // an entry's bytes could not be read
  // drawing and writing
  kPictureSize,       // a picture size outside 32..512
  kEncodeFailed,      // the PNG encoder refused the pixels
  kWriteFailed,       // the PNG file could not be written
};

struct Error {
  Fault fault;
  std::string message;
};

template <class T>
class Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // NOLINT: a value converts implicitly
  Result(Error error) : v_(std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

// For operations that return nothing but success.
struct Done {};

}  // namespace icon
