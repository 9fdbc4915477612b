// Truncation and corruption sweeps over every container family, and the allocation caps.
//
// Each family starts from valid files (made here with the test builders, plus the real
// files of the shared corpus when present). The truncation sweep loads every prefix up
// to the first 4 KiB and a sample of longer ones; the corruption sweep loads a few
// thousand copies with random bytes changed. Every file that loads is converted to each
// writable format and read back (testutil::LoadAndConvert). Each case must end with a
// defined result code; the sanitizer builds add that nothing reads or writes outside a
// buffer. A family joins by adding a row to Families(); memory-card images are one, read
// through the card layer instead of a save class.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "card/card.h"
#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "model/bytes.h"
#include "support/alloc_probe.h"
#include "support/card_builder.h"
#include "support/cbs_builder.h"
#include "support/exercise.h"
#include "support/lzari_encoder.h"
#include "support/max_builder.h"
#include "support/ps1_builder.h"
#include "support/psu_builder.h"
#include "support/psv_builder.h"
#include "support/test_util.h"
#include "support/xps_builder.h"

namespace {

using testutil::Bytes;

struct Source {
  std::string name;
  Bytes bytes;
  // The shortest prefix that holds every byte the loader needs, when known: shorter
  // prefixes must be refused with the family's truncation result, longer ones load.
  std::size_t completeAt = 0;
};

// A valid file changed to announce a count or length far beyond what it holds.
struct Absurd {
  std::string name;
  Bytes bytes;
  LoadResult expected;  // the result Load must give
};

struct Family {
  std::string extension;
  std::function<std::vector<Source>()> sources;
  // What Load gives for a file cut to this many bytes, before its completeAt.
  std::function<LoadResult(std::size_t length)> truncatedResult;
  // Every prefix shorter than this gives truncatedResult, whatever the source.
  std::size_t minimumSize;
  std::function<std::vector<Absurd>()> absurd;
  // How a file of the family is read and exercised; by default with the class the registry
  // gives its extension (testutil::LoadAndConvert, and Load alone for the allocation caps).
  // `convert` false: the load alone, for a large file whose conversions take long.
  std::function<testutil::LoadOutcome(const std::string& path, bool answer, const std::string& scratch,
                                      bool convert)>
      run;
  std::function<LoadResult(const std::string& path)> loadOnly;
  int corruptions = 2000;         // files the corruption sweep makes
  std::size_t headerSpan = 4096;  // where most of the changed bytes go
  std::size_t allocationCap = 0;  // the largest allocation one load may make; 0: 128 KiB or 4 × the file
  // What Load gives for a complete file when its question is answered No.
  LoadResult declined = LoadResult::kNotDirectory;
  std::string label;  // the tests' name for a family without an extension
};

// A family that the registry reads.
Family Registered(std::string extension, std::function<std::vector<Source>()> sources,
                  std::function<LoadResult(std::size_t)> truncated, std::size_t minimumSize,
                  std::function<std::vector<Absurd>()> absurd) {
  Family f;
  f.extension = extension;
  f.sources = std::move(sources);
  f.truncatedResult = std::move(truncated);
  f.minimumSize = minimumSize;
  f.absurd = std::move(absurd);
  f.run = [extension](const std::string& path, bool answer, const std::string& scratch, bool convert) {
    return testutil::LoadAndConvert(path, extension, answer, scratch, convert);
  };
  f.loadOnly = [extension](const std::string& path) {
    std::unique_ptr<CSaveGame> save = CreateForExtension(extension);
    // Past any question (a CRC that no longer matches), to the checks behind it.
    return testutil::LoadAsking(*save, path, [](const LoadQuestion&) { return true; });
  };
  return f;
}

void AddCorpus(std::vector<Source>& sources, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    std::string path = testutil::CorpusPath(name);
    if (!path.empty()) sources.push_back({name, testutil::ReadFile(path)});
  }
}

// --- Memory Linker .psu ---------------------------------------------------------------

Source PsuSource(const std::string& name, const testutil::PsuImage& image) {
  Bytes bytes = image.Build();
  std::size_t lastPadding = 0;
  if (!image.files.empty()) {
    std::size_t n = image.files.back().data.size();
    lastPadding = (1024 - n % 1024) % 1024;
  }
  return {name, bytes, bytes.size() - lastPadding};
}

std::vector<Source> PsuSources() {
  using testutil::PsuFile;
  using testutil::PsuImage;
  std::vector<Source> sources;
  sources.push_back(PsuSource("empty", PsuImage{}));

  PsuImage titled;
  titled.files.push_back(PsuFile{"icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61 TITLE")});
  titled.files.push_back(PsuFile{"DATA", testutil::MakeBytes(700, 1)});
  sources.push_back(PsuSource("titled", titled));

  PsuImage sizes;
  sizes.fillIgnored = true;
  for (std::size_t n : {1025u, 0u, 1u, 1024u, 1023u})
    sizes.files.push_back(PsuFile{"F" + std::to_string(n), testutil::MakeBytes(n, 2)});
  sources.push_back(PsuSource("sizes", sizes));

  AddCorpus(sources, {"psu/a.psu", "psu/d.psu", "psu/e.PSU", "psu/f.psu", "psu/g.psu"});
  return sources;
}

std::vector<Absurd> PsuAbsurd() {
  testutil::PsuImage image;
  image.files.push_back({"ONE", testutil::MakeBytes(10, 3)});
  Bytes valid = image.Build();
  std::vector<Absurd> cases;
  for (std::uint32_t count : {0xFFFFFFFFu, 0x80000000u, 0x00800000u, 5u}) {
    Bytes b = valid;
    bytes::PutU32LE(&b[4], count);  // headers the directory announces
    cases.push_back({"directory count " + std::to_string(count), b, LoadResult::kReadFailed});
  }
  for (std::uint32_t size : {0xFFFFFFFFu, 0xFFFFFC01u, 0x7FFFFFFFu}) {
    Bytes b = valid;
    bytes::PutU32LE(&b[3 * 512 + 4], size);  // the file's data length
    cases.push_back({"file size " + std::to_string(size), b, LoadResult::kReadFailed});
  }
  return cases;
}

// --- X-Port and SharkPort .xps / .sps --------------------------------------------------

// The loader never reads the checksum at the end: a file without it still loads.
Source XpsSource(const std::string& name, const testutil::XpsImage& image) {
  Bytes bytes = image.Build();
  return {name, bytes, bytes.size() - (image.withChecksum ? 4 : 0)};
}

std::vector<Source> XpsSources() {
  using testutil::XpsFile;
  using testutil::XpsImage;
  std::vector<Source> sources;
  sources.push_back(XpsSource("empty", XpsImage{}));

  XpsImage titled;
  titled.root.title = "TITLE";
  titled.files.push_back(XpsFile("icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61 TITLE")));
  titled.files.push_back(XpsFile("DATA", testutil::MakeBytes(700, 1)));
  sources.push_back(XpsSource("titled", titled));

  XpsImage odd;
  odd.root.mode = 0x8497;  // the loader asks whether to load it anyway
  odd.root.headerLength = 300;
  for (std::size_t n : {1025u, 0u, 1u, 1024u})
    odd.files.push_back(XpsFile("F" + std::to_string(n), testutil::MakeBytes(n, 2)));
  odd.files[1].mode = 0;
  odd.files[2].headerLength = 270;
  odd.files[3].mode = 0x8427;
  sources.push_back(XpsSource("odd", odd));

  AddCorpus(sources, {"xps/a.xps", "sps/a.sps", "sps/b.sps"});
  return sources;
}

// Within the first length word the file has ended (-2); after it, every length that
// reaches past the end is refused as damage (-6).
LoadResult XpsTruncated(std::size_t length) { return length < 4 ? LoadResult::kTruncated : LoadResult::kInvalid; }

std::vector<Absurd> XpsAbsurd() {
  testutil::XpsImage image;
  image.files.push_back(testutil::XpsFile("ONE", testutil::MakeBytes(10, 3)));
  const Bytes valid = image.Build();
  const std::size_t area = image.DataAreaStart();  // the root header
  std::vector<Absurd> cases;
  auto with = [&](const std::string& name, std::size_t at, std::uint32_t value, bool wide) {
    Bytes b = valid;
    if (wide) bytes::PutU32LE(&b[at], value);
    else bytes::PutU16LE(&b[at], static_cast<std::uint16_t>(value));
    cases.push_back({name, b, LoadResult::kInvalid});
  };
  with("magic length", 0, 0xFFFFFFFFu, true);
  with("title length", 4 + 13 + 4, 0xFFFFFFF0u, true);
  with("title length at the cap", 4 + 13 + 4, 16u << 20, true);
  for (std::uint32_t count : {0xFFFFFFFFu, 0x80000000u, 0x00800000u, 4u})
    with("root size " + std::to_string(count), area + 0x42, count, true);
  with("file size", area + 250 + 0x42, 0xFFFFFFFFu, true);
  with("header length", area + 250, 0xFFFF, false);
  return cases;
}

// --- ARMAX .max / .pws ----------------------------------------------------------------

// A cut ARMAX file fails its CRC; declined it gives -6, accepted its stream comes up short
// (-6), unless only the last few coded bytes went, which the decoder may not need. So the
// exact results are those of prefixes shorter than the 92-byte header.
std::vector<Source> MaxSources() {
  using testutil::MaxFile;
  using testutil::MaxImage;
  std::vector<Source> sources;
  sources.push_back({"empty", MaxImage{}.Build()});

  MaxImage titled;
  titled.files.push_back(MaxFile{"icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61 TITLE")});
  // Random bytes barely compress, so the file runs well past the first 4 KiB that the
  // prefix sweep takes byte by byte.
  titled.files.push_back(MaxFile{"DATA", testutil::MakeBytes(6000, 1)});
  sources.push_back({"titled", titled.Build()});

  MaxImage sizes;
  for (std::size_t n : {1025u, 0u, 1u, 100u})
    sizes.files.push_back(MaxFile{"F" + std::to_string(n), Bytes(n, static_cast<std::uint8_t>(n))});
  sizes.validCrc = false;
  sources.push_back({"sizes", sizes.Build()});

  AddCorpus(sources, {"max/a.max", "max/b.max", "max/c.max"});
  return sources;
}

LoadResult MaxTruncated(std::size_t) { return LoadResult::kReadFailed; }

std::vector<Absurd> MaxAbsurd() {
  using testutil::MaxImage;
  MaxImage image;
  image.files.push_back({"ONE", testutil::MakeBytes(10, 3)});
  std::vector<Absurd> cases;
  auto with = [&](const std::string& name, MaxImage changed) {
    cases.push_back({name, changed.Build(), LoadResult::kInvalid});
  };
  for (std::uint32_t length : {0xFFFFFFFFu, (64u << 20) + 1, 64u << 20, 1u << 20}) {
    MaxImage m = image;
    m.payloadLength = length;  // far beyond the cap, or beyond what the short stream holds
    with("payload length " + std::to_string(length), m);
  }
  for (std::uint32_t count : {0xFFFFFFFFu, 0x10000000u, 2u}) {
    MaxImage m = image;
    m.fileCount = count;
    with("file count " + std::to_string(count), m);
  }
  // A record that claims more data than the payload holds.
  Bytes payload = image.Payload();
  payload[0] = payload[1] = payload[2] = payload[3] = 0xFF;
  MaxImage m = image;
  m.stream = testutil::LzariCompress(payload);
  with("record size", m);
  return cases;
}

// --- CodeBreaker .cbs -----------------------------------------------------------------

// The body is one zlib stream that ends with its Adler-32: a file cut anywhere in it no
// longer inflates (-6), one cut inside the header can't be read (-1).
std::vector<Source> CbsSources() {
  using testutil::CbsFile;
  using testutil::CbsImage;
  std::vector<Source> sources;
  auto add = [&sources](const std::string& name, const CbsImage& image) {
    Bytes bytes = image.Build();
    sources.push_back({name, bytes, bytes.size()});
  };
  add("empty", CbsImage{});

  CbsImage titled;  // a PC tool's header
  titled.bodyLengthWord = true;
  titled.rootMode = 0;
  titled.files.push_back(CbsFile{"icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61 TITLE")});
  titled.files.push_back(CbsFile{"DATA", testutil::MakeBytes(6000, 1)});  // past the first 4 KiB
  titled.files.push_back(CbsFile{"EMPTY", {}});
  add("titled", titled);

  AddCorpus(sources, {"cbs/a.cbs", "cbs/h.cbs", "cbs/i.cbs"});
  return sources;
}

LoadResult CbsTruncated(std::size_t length) {
  return length < 0x128 ? LoadResult::kReadFailed : LoadResult::kInvalid;
}

std::vector<Absurd> CbsAbsurd() {
  testutil::CbsImage image;
  image.files.push_back({"ONE", testutil::MakeBytes(10, 3)});
  std::vector<Absurd> cases;
  for (std::uint32_t size : {0xFFFFFFFFu, (64u << 20) + 1, 64u << 20, 16u << 20, 10u}) {
    testutil::CbsImage m = image;
    m.inflatedSize = size;  // over the cap, beyond what the short body holds, or too small
    cases.push_back({"inflated size " + std::to_string(size), m.Build(), LoadResult::kInvalid});
  }
  for (std::uint32_t start : {0xFFFFFFFFu, 0x10000u, 0u}) {
    testutil::CbsImage m = image;
    m.bodyStart = start;
    cases.push_back({"body start " + std::to_string(start), m.Build(), LoadResult::kInvalid});
  }
  return cases;
}

// --- PS3 exports .psv ------------------------------------------------------------------

// Every record and every file's data must be there (-1 for less); after the last file's
// data only the padding is left, and a file cut there fails its signature, which is the
// question.
Source PsvSource(const std::string& name, const testutil::PsvImage& image) {
  Bytes bytes = image.Build();
  std::size_t end = 0xA0 + 60 * image.files.size();
  for (std::size_t k = 0; k < image.files.size(); ++k) {
    const std::uint8_t* record = &bytes[0xA0 + 60 * k];
    end = std::max<std::size_t>(end, bytes::GetU32LE(record + 56) + bytes::GetU32LE(record + 16));
  }
  return {name, bytes, end};
}

std::vector<Source> PsvSources() {
  using testutil::MakePsvFile;
  using testutil::PsvImage;
  std::vector<Source> sources;
  sources.push_back(PsvSource("empty", PsvImage{}));

  PsvImage titled;
  titled.validSignature = false;  // the loader asks
  titled.files.push_back(MakePsvFile("icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61 TITLE")));
  titled.files.push_back(MakePsvFile("DATA", testutil::MakeBytes(6001, 1), 0x84170000));
  titled.files.push_back(MakePsvFile("EMPTY", {}));
  titled.files[0].nameJunk = 0xEE;
  sources.push_back(PsvSource("titled", titled));

  AddCorpus(sources, {"psv/a.psv", "psv/k.psv", "psv/j-ps1.psv"});
  return sources;
}

std::vector<Absurd> PsvAbsurd() {
  testutil::PsvImage image;
  image.files.push_back(testutil::MakePsvFile("ONE", testutil::MakeBytes(10, 3)));
  std::vector<Absurd> cases;
  for (std::uint32_t count : {0xFFFFFFFFu, 0x80000000u, 0x00800000u, 5u}) {
    testutil::PsvImage m = image;
    m.fileCount = count;
    cases.push_back({"file count " + std::to_string(count), m.Build(), LoadResult::kReadFailed});
  }
  for (std::uint32_t size : {0xFFFFFFFFu, 0x7FFFFFFFu, 1000u}) {
    testutil::PsvImage m = image;
    m.files[0].size = size;
    cases.push_back({"file size " + std::to_string(size), m.Build(), LoadResult::kReadFailed});
  }
  testutil::PsvImage m = image;
  m.files[0].offset = 0xFFFFFFF0u;
  cases.push_back({"data offset", m.Build(), LoadResult::kReadFailed});
  return cases;
}

// --- PS1 single saves ------------------------------------------------------------------

// Built saves of 1 and 3 blocks in the family's layout, and the corpus's files of it. A
// file is whole only with its last byte: a shorter one is its header and part of a block.
std::function<std::vector<Source>()> Ps1Sources(std::string family, std::initializer_list<const char*> corpus) {
  std::vector<const char*> names(corpus);
  return [family, names] {
    std::vector<Source> sources;
    for (int blocks : {1, 3}) {
      testutil::Ps1SaveImage image;
      image.blocks = blocks;
      image.iconFlag = static_cast<std::uint8_t>(0x10 + blocks);
      const Bytes blocksBytes = image.Build();
      Bytes bytes = family == "psv" ? testutil::MakePs1Export("BASLUS-01105DATA1", blocksBytes)
                                    : testutil::MakePs1File(family, "BASLUS-01105DATA1", blocksBytes);
      sources.push_back({std::to_string(blocks) + " blocks", bytes, bytes.size()});
    }
    for (const char* name : names) {
      std::string path = testutil::CorpusPath(name);
      if (path.empty()) continue;
      Bytes bytes = testutil::ReadFile(path);
      sources.push_back({name, bytes, bytes.size()});
    }
    return sources;
  };
}

// Before its first block a file is short (-1); after, its size or its blocks disagree (-6).
// Short of its header and one whole block, or within a block: no save of the layout.
std::function<LoadResult(std::size_t)> Ps1Truncated() {
  return [](std::size_t) { return LoadResult::kInvalid; };
}

// A frame's size, or a block count, that is no save's.
std::function<std::vector<Absurd>()> Ps1Absurd(std::string family) {
  return [family] {
    const Bytes blocks = testutil::MakePs1Blocks(2);
    std::vector<Absurd> cases;
    for (std::uint32_t size : {0xFFFFE000u, 0x7FFFE000u, 0u}) {
      Bytes file = testutil::MakePs1File(family, "BASLUS-1", blocks);
      if (family == "mcs") bytes::PutU32LE(file.data() + 4, size);
      else file[(family == "psx" ? 0x36 : 0) + 3] = static_cast<std::uint8_t>(size >> 24);
      cases.push_back({"size " + std::to_string(size), file, LoadResult::kInvalid});
    }
    return cases;
  };
}

// A PS1 export that announces more than it holds.
std::vector<Absurd> Ps1ExportAbsurd() {
  const Bytes file = testutil::MakePs1Export("BASLUS-1", testutil::MakePs1Blocks(1));
  std::vector<Absurd> cases;
  for (std::uint32_t size : {0xFFFFE000u, 0x7FFFE000u, 0x10000u}) {
    Bytes m = file;
    bytes::PutU32LE(m.data() + 0x40, size);
    cases.push_back({"PS1 size " + std::to_string(size), m, size == 0x10000u ? LoadResult::kReadFailed : LoadResult::kInvalid});
  }
  return cases;
}

Family Ps1Family(std::string extension, std::string family, std::size_t headerSize,
                 std::initializer_list<const char*> corpus) {
  Family f = Registered(extension, Ps1Sources(family, corpus), Ps1Truncated(),
                        headerSize + 8192, Ps1Absurd(family));
  f.label = family;
  // Whole files are small: every change is within reach.
  f.headerSpan = 0x400;
  return f;
}

// --- Memory card images ----------------------------------------------------------------

// Cards with ECC and raw, each with saves added, one removed (a free slot and freed
// clusters) and one more added over them; and the corpus cards. Only the whole file is a
// card: every shorter prefix is refused.
std::vector<Source> CardSources() {
  std::vector<Source> sources;
  testutil::TempDir dir{testutil::FastTempBase()};
  for (bool ecc : {true, false}) {
    testutil::CardFile f = testutil::CardFile::Format(dir.File("card"), ecc);
    auto c = card::OpenCard(f.path()).card;
    for (int i = 0; i < 3; ++i) {
      testutil::PsuImage image;
      image.folder = "BESLES-0000" + std::to_string(i);
      image.files.push_back({"icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61 CARD")});
      image.files.push_back({"DATA", testutil::MakeBytes(700 + 1500 * static_cast<std::size_t>(i), 7)});
      testutil::WriteFile(dir.File("save.psu"), image.Build());
      CPsu save;
      save.Load(dir.File("save.psu"));
      c->Import(save);
      if (i == 1) c->Remove(image.folder);
    }
    Bytes bytes = testutil::ReadFile(f.path());
    sources.push_back({ecc ? "with ECC" : "raw", bytes, bytes.size()});
  }
  for (const char* name : {"card/a.ps2", "card/b-empty.ps2"}) {
    std::string path = testutil::CorpusPath(name);
    if (path.empty()) continue;
    Bytes bytes = testutil::ReadFile(path);
    sources.push_back({name, bytes, bytes.size()});
  }
  return sources;
}

// Superblock values far beyond any card are refused; a root or a file claiming more than
// the card holds opens as a damaged card. Neither allocates by the claim.
std::vector<Absurd> CardAbsurd() {
  testutil::TempDir dir{testutil::FastTempBase()};
  testutil::CardFile base = testutil::CardFile::Format(dir.File("card"), true);
  std::vector<Absurd> cases;
  auto with = [&](const std::string& name, LoadResult expected, const std::function<void(testutil::CardFile&)>& change) {
    testutil::CardFile f = base;
    change(f);
    cases.push_back({name, f.bytes(), expected});
  };
  for (std::uint32_t clusters : {0xFFFFFFFFu, 0x80000000u, 0x00200000u})
    with("clusters per card " + std::to_string(clusters), LoadResult::kInvalid,
         [clusters](testutil::CardFile& f) { f.SetSuperblockWord(0x30, clusters); });
  with("alloc_end", LoadResult::kInvalid, [](testutil::CardFile& f) { f.SetSuperblockWord(0x38, 0xFFFFFFF0); });
  with("an indirect FAT cluster", LoadResult::kInvalid, [](testutil::CardFile& f) { f.SetSuperblockWord(0x50, 0x7FFFFFFF); });
  for (std::uint32_t length : {0xFFFFFFFFu, 0x00100000u})
    with("root length " + std::to_string(length), LoadResult::kOk, [length](testutil::CardFile& f) {
      DirEntry dot = f.Entry(f.ClusterPage(0));
      dot.length = length;
      f.SetEntry(f.ClusterPage(0), dot);
    });
  return cases;
}

Family CardFamily() {
  Family f;
  f.extension = "ps2";
  f.sources = CardSources;
  f.truncatedResult = [](std::size_t) { return LoadResult::kInvalid; };
  f.minimumSize = 4096;
  f.absurd = CardAbsurd;
  f.run = [](const std::string& path, bool, const std::string& scratch, bool) {
    return testutil::OpenCardAndConvert(path, scratch);
  };
  f.loadOnly = [](const std::string& path) {
    card::OpenedCard opened = card::OpenCard(path);
    if (!opened.card) return LoadResult::kInvalid;
    for (const card::SaveInfo& s : opened.card->List().saves) opened.card->OpenSave(s.folder);
    return LoadResult::kOk;
  };
  // Each case reads, converts and checks a whole 8 MiB image: fewer of them, and the
  // changes where the superblock, the FAT and the directories are.
  f.corruptions = 240;
  f.headerSpan = 64 * 1024;
  // The FAT and the walks' bookkeeping of an 8 MiB card are 32 KiB each.
  f.allocationCap = 64 * 1024;
  return f;
}

// --------------------------------------------------------------------------------------

void PrintTo(const Family& family, std::ostream* os) { *os << family.extension; }

std::vector<Family> Families() {
  std::vector<Family> families;
  // The smallest .psu holds three headers; the smallest X-Port file its magic, four length
  // words and a root header; an ARMAX file its 92-byte header; a CodeBreaker file its
  // 0x128-byte header; a PS3 export its header (and a PS1 export its 0x84 bytes); a PS1 single
  // save its header and one block.
  families.push_back(Registered("psu", PsuSources, [](std::size_t) { return LoadResult::kReadFailed; }, 3 * 512, PsuAbsurd));
  if (CreateForExtension("xps")) families.push_back(Registered("xps", XpsSources, XpsTruncated, 4 + 13 + 20 + 250, XpsAbsurd));
  if (CreateForExtension("max")) families.push_back(Registered("max", MaxSources, MaxTruncated, 92, MaxAbsurd));
  families.push_back(Registered("cbs", CbsSources, CbsTruncated, 0x128, CbsAbsurd));
  Family psv = Registered("psv", PsvSources, [](std::size_t) { return LoadResult::kReadFailed; }, 0x40, PsvAbsurd);
  psv.declined = LoadResult::kInvalid;  // the signature question
  families.push_back(psv);
  Family ps1Export = Registered("psv", Ps1Sources("psv", {"ps1save/d.psv", "ps1save/e-tool.psv"}),
                                [](std::size_t) { return LoadResult::kReadFailed; }, 0x84, Ps1ExportAbsurd);
  ps1Export.declined = LoadResult::kInvalid;
  ps1Export.label = "ps1psv";
  families.push_back(ps1Export);
  families.push_back(Ps1Family("mcs", "mcs", 128, {"ps1save/a.mcs", "ps1save/b.mcs"}));
  families.push_back(Ps1Family("psx", "psx", 0x36, {}));
  families.push_back(Ps1Family("", "raw", 0, {"ps1save/c-raw/BASLUS-00958GS2-7", "ps1save/c-raw/BESLES-04095XSMOTO"}));
  families.push_back(CardFamily());
  return families;
}

class Sweep : public ::testing::TestWithParam<Family> {
 protected:
  testutil::TempDir dir_{testutil::FastTempBase()};
  std::string file_ = dir_.File("input." + GetParam().extension);
  int cases_ = 0;
  bool answer_ = false;

  // Loads the file as it stands now, answering questions Yes and No by turns.
  testutil::LoadOutcome Run(bool convert = true) {
    ++cases_;
    answer_ = !answer_;
    return GetParam().run(file_, answer_, dir_.path().string(), convert);
  }
};

std::string Describe(const Source& s, std::size_t at) {
  return s.name + " at " + std::to_string(at);
}

TEST_P(Sweep, EveryPrefixEndsWithADefinedResult) {
  const Family& family = GetParam();
  for (const Source& source : family.sources()) {
    const std::size_t size = source.bytes.size();
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= std::min<std::size_t>(size, 4096); ++n) lengths.push_back(n);
    // Beyond 4 KiB: 64 lengths spread over the rest, the boundaries of the last blocks too.
    std::mt19937 rng(static_cast<std::uint32_t>(size));
    for (int i = 0; i < 64 && size > 4096; ++i)
      lengths.push_back(4096 + std::uniform_int_distribution<std::size_t>(0, size - 4096)(rng));
    for (std::size_t back : {1u, 2u, 511u, 512u, 513u, 1024u})
      if (size > back) lengths.push_back(size - back);
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());

    // Written once, then cut shorter and shorter.
    testutil::WriteFile(file_, source.bytes);
    for (auto it = lengths.rbegin(); it != lengths.rend(); ++it) {
      std::filesystem::resize_file(dir_.path() / ("input." + family.extension), *it);
      testutil::LoadOutcome outcome = Run();
      ASSERT_EQ(testutil::CheckOutcome(outcome), "") << Describe(source, *it);
      if (*it < family.minimumSize) {
        ASSERT_EQ(outcome.load, family.truncatedResult(*it)) << Describe(source, *it);
      }
      if (source.completeAt == 0) continue;
      if (*it < source.completeAt)
        ASSERT_EQ(outcome.load, family.truncatedResult(*it)) << Describe(source, *it);
      else if (outcome.questions > 0 && !answer_)
        ASSERT_EQ(outcome.load, family.declined) << Describe(source, *it);
      else
        ASSERT_EQ(outcome.load, LoadResult::kOk) << Describe(source, *it);
    }
  }
  EXPECT_GT(cases_, 4096);
}

TEST_P(Sweep, RandomlyChangedBytesEndWithADefinedResult) {
  const Family& family = GetParam();
  std::vector<Source> sources = family.sources();
  const int kFiles = family.corruptions;
  std::mt19937 rng(20240601);
  int loaded = 0;
  for (int i = 0; i < kFiles; ++i) {
    const Source& source = sources[static_cast<std::size_t>(i) % sources.size()];
    Bytes bytes = source.bytes;
    if (bytes.empty()) continue;
    // Mostly within the first 4 KiB, where the headers are; now and then anywhere.
    int changes = std::uniform_int_distribution<int>(1, 8)(rng);
    for (int c = 0; c < changes; ++c) {
      std::size_t span = (rng() % 4 == 0) ? bytes.size() : std::min<std::size_t>(bytes.size(), family.headerSpan);
      std::size_t at = std::uniform_int_distribution<std::size_t>(0, span - 1)(rng);
      bytes[at] = static_cast<std::uint8_t>(rng() % 3 == 0 ? bytes[at] ^ (1u << (rng() % 8)) : rng());
    }
    testutil::WriteFile(file_, bytes);
    // Writing a large save in the compressed formats takes a good part of a second; one
    // copy in eight of those is converted, every copy of the small ones.
    const bool convert = bytes.size() <= 64 * 1024 || i % 8 == 0;
    testutil::LoadOutcome outcome = Run(convert);
    ASSERT_EQ(testutil::CheckOutcome(outcome), "") << source.name << ", file " << i;
    if (outcome.load == LoadResult::kOk) ++loaded;
  }
  // The sweep must reach the writers, not only the loader's first refusal.
  EXPECT_GT(loaded, kFiles / 20);
}

// Allocation caps. A loader sizes nothing from a count or length before checking it against
// the bytes the file really holds, so what one Load allocates stays within a small multiple
// of the file's size, whatever the file announces.
TEST_P(Sweep, AbsurdCountsAreRefusedWithoutALargeAllocation) {
  const Family& family = GetParam();
  for (const Absurd& c : family.absurd()) {
    testutil::WriteFile(file_, c.bytes);
    LoadResult result;
    std::size_t largest, total;
    const auto start = std::chrono::steady_clock::now();
    {
      testutil::AllocationProbe probe;
      result = family.loadOnly(file_);
      largest = probe.largest();
      total = probe.total();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(result, c.expected) << c.name;
    // The decoder's state block (some 80 KiB) is the one fixed buffer a load may take.
    const std::size_t cap = family.allocationCap ? family.allocationCap : std::max<std::size_t>(128 * 1024, 4 * c.bytes.size());
    EXPECT_LE(largest, cap) << c.name;
    // Nor do many small allocations add up to more than a few times the file, nor the work
    // to more than a load of its size takes.
    EXPECT_LE(total, std::max<std::size_t>(std::size_t{4} << 20, 4 * c.bytes.size())) << c.name;
    EXPECT_LT(seconds, 3.0) << c.name;
  }
}

std::string FamilyName(const ::testing::TestParamInfo<Family>& info) {
  return info.param.label.empty() ? info.param.extension : info.param.label;
}

INSTANTIATE_TEST_SUITE_P(Containers, Sweep, ::testing::ValuesIn(Families()), FamilyName);

TEST(AllocationProbe, SeesALargeRequest) {
  testutil::AllocationProbe probe;
  auto buffer = std::make_unique<std::vector<std::uint8_t>>(1 << 20);
  EXPECT_GE(probe.largest(), std::size_t{1} << 20);
  EXPECT_GE(probe.total(), std::size_t{1} << 20);
}

}  // namespace
