// The container interface: one abstract class, one concrete class per container family.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "io/byte_source.h"
#include "io/output_file.h"
#include "model/entry.h"

// The result of Load, Save and WriteConvertedFrom, shared by every class. The numbers are
// the ones the file commands and their messages are keyed on.
enum class LoadResult : int {
  kOk = 1,              // success
  kOpenFailed = 0,      // the container, the target, or an entry's data file could not be opened
  kReadFailed = -1,     // the file could not be read (or is shorter than its first fixed header)
  kTruncated = -2,      // the file ended within its first length word
  kNotDirectory = -3,   // the first entry of the container is not a directory
  kReplaceFailed = -4,  // in place: the old file could not be replaced; the "~0" file holds the save
  kSavedInPlace = -5,   // written over the source through the "~0" file: load it again
  kInvalid = -6,        // unsupported by this class, or not a valid container of its family
  kNoMemory = -7,       // a buffer could not be allocated
  kNeedsAnswer = -8,    // the load stopped at a question for the user (CSaveGame::question)
};

// A save was written: to a new file (kOk), or over its own container through "~0"
// (kSavedInPlace).
constexpr bool Succeeded(LoadResult r) {
  return r == LoadResult::kOk || r == LoadResult::kSavedInPlace;
}
// The number a result stands for.
constexpr int ResultCode(LoadResult r) { return static_cast<int>(r); }

// How a write to a sink ended, as the writers report it: kOk, kSavedInPlace,
// kReplaceFailed, or kOpenFailed for a write that failed.
LoadResult Finished(io::Committed committed);

// True when writing to target means writing over the save's own container: the same
// text, or another spelling of the same file.
bool IsSameContainer(const std::string& target, const std::string& sourcePath);

// A yes/no question a loader needs answered before it can go on ("the CRC doesn't match:
// load it anyway?"), as the dialog programs put it in a message box.
struct LoadQuestion {
  std::string text;
  std::string caption;
};
// The answers a load is given, by each question's text: true is Yes.
using LoadAnswers = std::map<std::string, bool, std::less<>>;

// A writer fed a save in table order as it is read, so that a conversion need not hold
// the save's file data: the root first (its size the files + 2; its title not yet read
// from icon.sys), then each file's record followed by exactly its `size` bytes in pieces.
// Each call returns false once the write has failed, and nothing more is written then.
// Only Finish puts the file in place: a writer dropped before it leaves nothing behind.
class SaveStreamWriter {
 public:
  virtual ~SaveStreamWriter() = default;
  virtual bool Root(const SaveEntry& root) = 0;
  virtual bool File(const SaveEntry& file) = 0;
  virtual bool Data(std::span<const std::uint8_t> piece) = 0;
  // The write failed (the target couldn't be opened or written, or bytes came that no
  // record announced).
  virtual bool Failed() const = 0;
  // kOk written; kOpenFailed when a write failed or a file's bytes fell short (nothing
  // replaced).
  virtual LoadResult Finish() = 0;
};

// The kinds of container object, one per class: every family's row names its kind.
enum SaveKind : int {
  kKindPsu = 1,
  kKindXps = 2,
  kKindGeneric = 3,
  kKindMax = 4,
  kKindCbs = 5,
  kKindPsv = 6,
  kKindCard = 7,
  kKindPs1 = 8,
  kKindMcs = 9,
  kKindPs1Raw = 10,
  kKindPsx = 11,
};

class CSaveGame {
 public:
  explicit CSaveGame(int kind) : kind(kind) {}
  CSaveGame(const CSaveGame&) = delete;
  CSaveGame& operator=(const CSaveGame&) = delete;

  virtual ~CSaveGame() = 0;

  // The container operations. Each family reads and writes its own format (Read, Write,
  // WriteConverted below); a class without a format refuses them (kInvalid, nothing changes).
  //
  // Loads the save from `source`, which it keeps: its entries' data is read from there.
  // On any failure the object keeps its previous state. A load that needs the user's
  // answer stops with kNeedsAnswer and `question` set, and is made again with the answer
  // among `answers`: nothing waits for the user inside a load.
  LoadResult Load(io::SourcePtr source, const LoadAnswers& answers = {});
  // The same for the file at `path`, opened for the load and let go after it (a later
  // read of an entry opens it again while it is still the version loaded).
  LoadResult Load(const std::string& path, const LoadAnswers& answers = {});
  // Writes the save in its own format: to `out`, or to `path` (over its own container
  // through the "~0" file when path is the source: kSavedInPlace, to be loaded again).
  LoadResult Save(io::ByteSink& out);
  LoadResult Save(const std::string& path);
  // Entry index -1 is the root, 0..n-1 the files.
  virtual void SetName(int entryIndex, std::string_view text);
  virtual void SetMode(int entryIndex, std::uint32_t mode);
  // File index 0..n-1.
  virtual void RemoveEntry(int fileIndex);
  // The two edits that read a PC file: false, with nothing changed, when the file can't be
  // measured (gone, unreadable, 4 GiB or more) or the save has no such place.
  virtual bool AddEntryFromDisk(const std::string& pcPath, std::string_view entryName);
  // Table position 1..n.
  virtual bool ReplaceEntryFromDisk(const std::string& pcPath, int tablePosition);
  virtual void SetCreated(int entryIndex, const EntryTime& time);
  virtual void SetModified(int entryIndex, const EntryTime& time);

  // Writes `source` (a save of any class) in this object's format: the conversion. The
  // object itself only lends its format; a converter with no save of its own keeps none.
  LoadResult WriteConvertedFrom(const CSaveGame& source, io::ByteSink& out);
  LoadResult WriteConvertedFrom(const CSaveGame& source, const std::string& path);

  // The one-pass conversions. StreamWriter: a writer of this object's format to `path`,
  // nothing opened before its Root; nullptr for a format written from a whole save.
  // LoadInto: reads the file at `path` as Load does and hands its entries to `writer` as
  // they are read instead of keeping them (the object keeps its state): the result of the
  // load, with kInvalid or a failed writer ending it early; none, with nothing read, when the
  // family can't be read so.
  virtual std::unique_ptr<SaveStreamWriter> StreamWriter(const std::string& path);
  virtual std::optional<LoadResult> LoadInto(const io::ByteSource& source, SaveStreamWriter& writer,
                                             const LoadAnswers& answers = {});

  // The number of files (root size - 2), 0 without a table.
  int FileCount() const;
  // The record of an entry index (-1 the root), or nullptr when there is none.
  SaveEntry* EntryAt(int entryIndex);
  const SaveEntry* EntryAt(int entryIndex) const;

  int kind;
  // Why the last Load, Save or WriteConvertedFrom refused its work, when the result alone
  // doesn't say it well ("This is a PlayStation 1 save, ..."); empty otherwise. The front
  // ends show it in place of the result's message. Each of the three clears it first.
  std::string refusal;
  std::string sourcePath;    // the container this save was loaded from; empty for bytes in memory
  int extensionOffset = 0;   // where the extension starts in sourcePath (set by the open command)
  std::optional<EntryTable> entries;
  // The bytes the entries' data lies in (InContainer and ContainerExtents sources).
  io::SourcePtr container;
  // The question the last Load stopped at (kNeedsAnswer); none otherwise.
  std::optional<LoadQuestion> question;

  // What every load ends with once the table is read: the save's title, raw and as ASCII
  // (from icon.sys; a PS1 save's from its header). Card saves, made by their card, end so
  // too.
  void TakeTitle();

 protected:
  // The family's own reading and writing, behind Load, Save and WriteConvertedFrom: Read
  // fills the table (and the family's copies of its headers) from the source's bytes and
  // changes nothing on a failure; a failure to allocate may be thrown, and is kNoMemory. Write
  // and WriteConverted fill the sink and commit it.
  virtual LoadResult Read(const io::ByteSource& source);
  virtual LoadResult Write(io::ByteSink& out);
  virtual LoadResult WriteConverted(const CSaveGame& source, io::ByteSink& out);
  // The raw title, into root.rawTitle: icon.sys's by default. False when the family has
  // none to give and the title stays as it is.
  virtual bool ReadRawTitle();

  // The user's answer to a question, when the load was given one; none otherwise, and the
  // question is kept for the caller: the loader then returns kNeedsAnswer. Only for Read.
  std::optional<bool> Answer(std::string_view text, std::string_view caption);
  const LoadAnswers* answers_ = nullptr;  // during a load

  // The size of a PC file that becomes an entry's data; none when it can't be measured or
  // doesn't fit the 32-bit size field.
  static std::optional<std::uint32_t> MeasurePcFile(const std::string& pcPath);
  // Appends a file record for a PC file to the table and counts it in the root.
  SaveEntry& AppendDiskEntry(const std::string& pcPath, std::string_view entryName,
                             std::uint32_t size, const EntryTime& now);
  // Points an existing record at a PC file, dropping any bytes it held in memory.
  static void PointAtDisk(SaveEntry& entry, const std::string& pcPath, std::uint32_t size);
  // Drops a file record (and its bytes) and uncounts it in the root.
  void EraseFile(int fileIndex);
  bool ValidFileIndex(int fileIndex) const;
};

// Loads `save` from `source`, each question it stops at put to `answer` and the load made
// again with the answers so far: for a front end that can wait for the user (a page that
// can't asks between loads itself). A question asked again gets the answer it had.
LoadResult LoadWithAnswers(CSaveGame& save, const io::SourcePtr& source,
                           const std::function<bool(const LoadQuestion&)>& answer);

// A save put together from PC files; it has no container format of its own and reaches
// the disk only through another class's WriteConverted.
class CGeneric : public CSaveGame {
 public:
  CGeneric() : CSaveGame(kKindGeneric) {}
  ~CGeneric() override = default;
  // Creates the "UNNAMED SAVE" root first when there is no table yet.
  bool AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) override;
};

inline constexpr std::string_view kUnnamedSave = "UNNAMED SAVE";
