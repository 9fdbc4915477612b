// Cards made to hurt: chains shared by many files, a FAT whose pointers name one cluster
// twice, a superblock with its signature gone, a damaged page a conversion would hide, and
// folder-card names the host or the emulator would lose. Each ends in what the card holds
// said plainly, with work in proportion to the card and no write that makes it worse.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#ifdef __linux__
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "card/card.h"
#include "card/card_messages.h"
#include "card/layout.h"
#include "card/ps1/ps1_card.h"
#include "formats/ps1/ps1_save.h"
#include "formats/psu/psu.h"
#include "model/entry_data.h"
#include "support/alloc_probe.h"
#include "support/card_builder.h"
#include "support/ps1_builder.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

namespace {

using testutil::Bytes;
using testutil::CardFile;

bool HasKind(const std::vector<card::Issue>& issues, card::IssueKind kind) {
  return std::any_of(issues.begin(), issues.end(), [kind](const card::Issue& i) { return i.kind == kind; });
}

// A save of one icon.sys titled "HOSTILE" and one data file, as a .psu.
std::unique_ptr<CPsu> TitledSave(const testutil::TempDir& dir, const std::string& folder, std::size_t dataBytes) {
  testutil::PsuImage image;
  image.folder = folder;
  image.files.push_back({"icon.sys", testutil::MakeIconSys("HOSTILE")});
  image.files.push_back({"DATA", testutil::MakeBytes(dataBytes, 3)});
  testutil::WriteFile(dir.File(folder + ".psu"), image.Build());
  auto save = std::make_unique<CPsu>();
  EXPECT_EQ(save->Load(dir.File(folder + ".psu")), LoadResult::kOk);
  return save;
}

// A fresh card with ECC holding one TitledSave of 3,000 data bytes, read in.
CardFile CardWithOneSave(const testutil::TempDir& dir, const std::string& name, const std::string& folder) {
  CardFile f = CardFile::Format(dir.File(name), true);
  EXPECT_EQ(card::OpenCard(f.path()).card->Import(*TitledSave(dir, folder, 3000)).result, card::ImportResult::kImported);
  return CardFile::Read(f.path());
}

// A new folder card Mcd001.ps2 holding one TitledSave of 3,000 data bytes; none when
// that fails.
std::unique_ptr<card::Card> FolderCardWithOneSave(const testutil::TempDir& dir, const std::string& folder) {
  const std::string path = dir.File("Mcd001.ps2");
  if (card::FormatFolderCard(path, {}) != card::FormatResult::kFormatted) return nullptr;
  auto c = card::OpenCard(path).card;
  if (!c || c->Import(*TitledSave(dir, folder, 3000)).result != card::ImportResult::kImported) return nullptr;
  return c;
}

// Opening, listing and reading every save of a card whose chains are shared costs what a
// card of that size costs: a bounded total of allocations and time, whatever the sharing.
TEST(CardHostile, CrossLinkedChainsCostWorkInProportionToTheCard) {
  testutil::TempDir dir{testutil::FastTempBase()};
  struct Row {
    const char* why;
    std::uint32_t saves;
    std::uint32_t clusters;
  };
  const Row rows[] = {
      {"one save over a 4,000-cluster chain", 1, 4000},
      {"20 saves over a 2,000-cluster chain", 20, 2000},
  };
  for (const Row& r : rows) {
    CardFile f = CardFile::Format(dir.File("shared.bin"), false);
    testutil::ShareOneChain(f, r.saves, r.clusters);
    f.Store();
    const auto start = std::chrono::steady_clock::now();
    std::size_t allocated = 0;
    card::Listing listing;
    std::vector<card::OpenSaveResult> opened;
    std::vector<card::Issue> issues;
    {
      testutil::AllocationProbe probe;
      card::OpenedCard c = card::OpenCard(f.path());
      ASSERT_TRUE(c.card) << r.why;
      listing = c.card->List();
      for (const card::SaveInfo& s : listing.saves) opened.push_back(c.card->OpenSave(s.folder).result);
      issues = c.card->Check();
      allocated = probe.total();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // An 8 MiB card: its FAT and bookkeeping, an entry per page, an issue per file.
    EXPECT_LE(allocated, std::size_t{16} << 20) << r.why;
    EXPECT_LT(seconds, 5.0) << r.why;
    EXPECT_TRUE(HasKind(issues, card::IssueKind::kCrossLinked)) << r.why;
    ASSERT_EQ(listing.saves.size(), r.saves) << r.why;
    for (std::size_t i = 0; i < listing.saves.size(); ++i) {
      const card::SaveInfo& s = listing.saves[i];
      EXPECT_FALSE(s.readable) << r.why << ": " << s.folder;
      EXPECT_LE(s.sizeKB, 8135u) << r.why << ": " << s.folder;
      EXPECT_EQ(opened[i], card::OpenSaveResult::kDamaged) << r.why << ": " << s.folder;
    }
  }
}

// Two saves whose files meet in one cluster: both are damaged, each says so, and neither
// can be copied off the card.
TEST(CardHostile, ACrossLinkDamagesBothSaves) {
  testutil::TempDir dir;
  CardFile f = CardFile::Format(dir.File("card.ps2"), true);
  {
    auto c = card::OpenCard(f.path()).card;
    ASSERT_EQ(c->Import(*TitledSave(dir, "BESLES-00001A", 3000)).result, card::ImportResult::kImported);
    ASSERT_EQ(c->Import(*TitledSave(dir, "BESLES-00002B", 3000)).result, card::ImportResult::kImported);
  }
  f = CardFile::Read(f.path());
  // The second save's DATA starts at the first save's DATA.
  const DirEntry firstData = f.Entry(f.EntryPage(2, 3));
  DirEntry secondData = f.Entry(f.EntryPage(8, 3));
  ASSERT_EQ(secondData.Name(), "DATA");
  secondData.cluster = firstData.cluster;
  f.SetEntry(f.EntryPage(8, 3), secondData);
  f.Store();
  card::OpenedCard c = card::OpenCard(f.path());
  ASSERT_TRUE(c.card);
  const card::Listing listing = c.card->List();
  ASSERT_EQ(listing.saves.size(), 2u);
  for (const card::SaveInfo& s : listing.saves) {
    EXPECT_FALSE(s.readable) << s.folder;
    EXPECT_NE(s.damage.find("cluster"), std::string::npos) << s.folder << ": " << s.damage;
    EXPECT_EQ(c.card->OpenSave(s.folder).result, card::OpenSaveResult::kDamaged) << s.folder;
    // The damage is in DATA: the title still reads from icon.sys.
    EXPECT_EQ(s.title, "HOSTILE") << s.folder;
  }
}

// Damage in one file leaves the rest of the save to be shown: the title from icon.sys, the
// icon only where its file can be read.
TEST(CardHostile, ADamagedFileLeavesTheTitleAndTheOtherFiles) {
  testutil::TempDir dir;
  CardFile f = CardWithOneSave(dir, "card.ps2", "BESLES-00003C");
  // DATA's chain (clusters 5-7) loops back on itself.
  const DirEntry data = f.Entry(f.EntryPage(2, 3));
  ASSERT_EQ(data.Name(), "DATA");
  f.SetFat(data.cluster + 2, 0x80000000 | data.cluster);
  f.Store();
  card::OpenedCard c = card::OpenCard(f.path());
  ASSERT_TRUE(c.card);
  const card::SaveInfo s = c.card->List().saves.at(0);
  EXPECT_FALSE(s.readable);
  EXPECT_EQ(s.title, "HOSTILE");
  std::unique_ptr<CCardSave> parts = c.card->ReadableParts(s.folder);
  ASSERT_TRUE(parts);
  ASSERT_EQ(parts->FileCount(), 1);
  EXPECT_EQ((*parts->entries)[1].Name(), "icon.sys");
}

// Two pointers of the indirect FAT naming one FAT cluster: a write to one part of the FAT
// would change another, so the card is damaged and nothing is written to it.
TEST(CardHostile, FatClustersNamedTwiceAreDamageAndNoImportTouchesTheCard) {
  testutil::TempDir dir;
  struct Row {
    const char* why;
    std::function<void(CardFile&)> alias;
  };
  const Row rows[] = {
      {"two FAT pointers at one cluster", [](CardFile& f) {
         // The indirect cluster (8) lists FAT clusters 9, 10, ...: make the second 9 too.
         f.Page(16)[4] = 9;
         f.Reseal(16);
       }},
      {"a FAT pointer at the indirect cluster", [](CardFile& f) {
         f.Page(16)[4] = 8;
         f.Reseal(16);
       }},
  };
  for (const Row& r : rows) {
    CardFile f = CardFile::Format(dir.File("alias.ps2"), true);
    r.alias(f);
    f.Store();
    card::OpenedCard c = card::OpenCard(f.path());
    ASSERT_TRUE(c.card) << r.why;
    EXPECT_TRUE(c.card->Damaged()) << r.why;
    EXPECT_TRUE(HasKind(c.card->Check(), card::IssueKind::kFatAliased)) << r.why;
    const card::ImportOutcome o = c.card->Import(*TitledSave(dir, "BESLES-00004D", 400 * 1024));
    EXPECT_EQ(o.result, card::ImportResult::kCardDamaged) << r.why << ": " << card::messages::ImportMessage(o);
    EXPECT_EQ(testutil::ReadFile(f.path()), f.bytes()) << r.why;
  }
}

// A superblock with its signature gone, on a card whose saves are intact: a damaged card,
// never an unformatted one; repair writes a superblock back only where the rest agrees.
TEST(CardHostile, ADamagedSuperblockIsDamageThatRepairRebuilds) {
  testutil::TempDir dir;
  CardFile good = CardWithOneSave(dir, "good.ps2", "BESLES-00005E");
  struct Row {
    const char* why;
    std::function<void(CardFile&)> damage;
    card::IssueKind opened;
    card::RepairResult repaired;
  };
  auto noMagic = [](CardFile& f) {
    std::memset(f.Page(0), 'X', 4);
    f.Reseal(0);
  };
  const Row rows[] = {
      {"the signature's first bytes overwritten", noMagic, card::IssueKind::kDamagedSuperblock,
       card::RepairResult::kRepaired},
      {"and a chain that loops", [&](CardFile& f) {
         noMagic(f);
         f.SetFat(7, 0x80000005);
       }, card::IssueKind::kDamagedSuperblock, card::RepairResult::kNothingToRepair},
      {"the cluster count overwritten", [](CardFile& f) { f.SetSuperblockWord(0x30, 12345); },
       card::IssueKind::kSizeMismatch, card::RepairResult::kRepaired},
      {"and the FAT gone", [&](CardFile& f) {
         noMagic(f);
         for (std::uint64_t p = 16; p < 82; ++p) {
           std::memset(f.Page(p), 0x55, card::kPageData);
           f.Reseal(p);
         }
       }, card::IssueKind::kDamagedSuperblock, card::RepairResult::kNothingToRepair},
      {"the whole superblock page overwritten", [](CardFile& f) {
         std::memset(f.Page(0), 0x55, card::kPageData);
         f.Reseal(0);
       }, card::IssueKind::kDamagedSuperblock, card::RepairResult::kRepaired},
      {"the whole superblock and the FAT gone", [&](CardFile& f) {
         for (std::uint64_t p = 0; p < 82; ++p) {
           std::memset(f.Page(p), 0x55, card::kPageData);
           f.Reseal(p);
         }
       }, card::IssueKind::kNotACard, card::RepairResult::kNothingToRepair},
  };
  for (const Row& r : rows) {
    CardFile f = good;
    r.damage(f);
    f.Store();
    card::OpenedCard opened = card::OpenCard(f.path());
    ASSERT_FALSE(opened.card) << r.why;
    EXPECT_EQ(opened.issues.at(0).kind, r.opened) << r.why << ": " << card::messages::OpenFailure(opened);
    EXPECT_EQ(card::messages::OpenFailure(opened).find("format"), std::string::npos) << r.why;
    const card::RepairOutcome repair = card::RepairSuperblock(f.path());
    EXPECT_EQ(repair.result, r.repaired) << r.why << ": " << card::messages::RepairMessage(repair);
    if (r.repaired != card::RepairResult::kRepaired) {
      EXPECT_EQ(testutil::ReadFile(f.path()), f.bytes()) << r.why;
      continue;
    }
    card::OpenedCard back = card::OpenCard(f.path());
    ASSERT_TRUE(back.card) << r.why;
    EXPECT_EQ(testutil::ReadFile(f.path()), good.bytes()) << r.why;
  }
  // Only a file with no card in it at all is called unformatted.
  for (std::uint8_t fill : {0x00, 0xFF}) {
    testutil::WriteFile(dir.File("blank.ps2"), Bytes(8650752, fill));
    card::OpenedCard blank = card::OpenCard(dir.File("blank.ps2"));
    EXPECT_EQ(blank.issues.at(0).kind, card::IssueKind::kUnformatted) << int(fill);
  }
}

// A raw image has no ECC: converting a page that the ECC can't correct would hide that it
// is damaged, so it is done only when asked, and the refusal names the pages.
TEST(CardHostile, ConvertingToRawKeepsUncorrectablePagesFromBeingHidden) {
  testutil::TempDir dir;
  CardFile f = CardFile::Format(dir.File("card.ps2"), true);
  f.Page(f.ClusterPage(100))[0] ^= 0x03;
  f.Page(f.ClusterPage(200) + 1)[7] ^= 0x81;
  f.Store();
  std::string detail;
  EXPECT_EQ(card::ConvertImage(f.path(), dir.File("card.bin"), false, false, &detail),
            card::ConvertResult::kUncorrectable);
  EXPECT_EQ(detail, "pages " + std::to_string(f.ClusterPage(100)) + " and " + std::to_string(f.ClusterPage(200) + 1));
  EXPECT_FALSE(std::filesystem::exists(dir.File("card.bin")));
  EXPECT_EQ(card::ConvertImage(f.path(), dir.File("card.bin"), false, true, &detail), card::ConvertResult::kConverted);
  EXPECT_TRUE(std::filesystem::exists(dir.File("card.bin")));
}

// A folder card's names: the emulator passes over _pcsx2_ names and Windows and macOS
// merge names differing only in case, so such saves are refused before anything is written.
TEST(CardHostile, FolderCardRefusesNamesTheHostOrTheEmulatorWouldLose) {
  testutil::TempDir dir;
  const std::string cardPath = dir.File("Mcd001.ps2");
  ASSERT_EQ(card::FormatFolderCard(cardPath, {}), card::FormatResult::kFormatted);
  auto c = card::OpenCard(cardPath).card;
  ASSERT_TRUE(c);
  testutil::WriteFile(dir.File("A"), testutil::MakeBytes(100, 1));
  struct Row {
    const char* why;
    std::string folder;
    std::vector<std::string> files;
    card::ImportResult expected;
  };
  const Row rows[] = {
      {"a folder named like the emulator's own", "_pcsx2_BESLES-1", {"A"}, card::ImportResult::kInvalidSave},
      {"two files differing in case", "BESLES-00006F", {"data", "DATA"}, card::ImportResult::kInvalidSave},
      {"an ordinary save", "BESLES-00007G", {"data", "DATA2"}, card::ImportResult::kImported},
  };
  for (const Row& r : rows) {
    CGeneric save;
    for (const std::string& name : r.files) save.AddEntryFromDisk(dir.File("A"), name);
    save.SetName(-1, r.folder);
    const card::ImportOutcome o = c->Import(save);
    EXPECT_EQ(o.result, r.expected) << r.why << ": " << card::messages::ImportMessage(o);
  }
  EXPECT_EQ(c->List().saves.size(), 1u);
  // Only the saves and the superblock are there: nothing half-written is left behind.
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(cardPath)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"BESLES-00007G", "_pcsx2_superblock"}));
}

// A replace on a folder card leaves the new save only; a refused replace tells the free
// space as it is and as it would be with the old save gone.
TEST(CardHostile, ReplacingOnAFolderCardLeavesNoCopyAndARefusalTellsTheRealSpace) {
  testutil::TempDir dir;
  auto c = FolderCardWithOneSave(dir, "BESLES-00008H");
  ASSERT_TRUE(c);
  const std::string cardPath = c->path();
  card::ImportOptions replace;
  replace.replace = true;
  ASSERT_EQ(c->Import(*TitledSave(dir, "BESLES-00008H", 5000), replace).result, card::ImportResult::kReplaced);
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(cardPath)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"BESLES-00008H", "_pcsx2_superblock"}));
  // 5,000 bytes of data, an icon.sys and 2 directory clusters: 8 KB; 7,991 free.
  const card::ImportOutcome o = c->Import(*TitledSave(dir, "BESLES-00008H", 7997 * 1024), replace);
  EXPECT_EQ(card::messages::ImportMessage(o),
            "BESLES-00008H does not fit: needs 8,000 KB, 7,991 KB free (7,999 KB with the save it replaces)");
}

#ifdef __linux__
// Stops every open of one file (or of every file in a folder) until `onOpen` has run (it
// is called at each open, with the file opened for reading and writing, until it returns
// true), then lets the open go on: a change made on the disk while a writer waits at
// exactly that point. `onOpen` must open nothing in a folder watched so, or it would wait
// for itself. Needs the right to watch file opens (root on Linux).
class OpenHold {
 public:
  OpenHold(const std::string& path, std::function<bool()> onOpen)
      : OpenHold(path, [onOpen = std::move(onOpen)](int) { return onOpen(); }, false) {}
  OpenHold(const std::string& path, std::function<bool(int fd)> onOpen, bool inFolder) : onOpen_(std::move(onOpen)) {
    fd_ = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDWR);
    const std::uint64_t events = FAN_OPEN_PERM | (inFolder ? FAN_EVENT_ON_CHILD : 0);
    if (fd_ >= 0 && fanotify_mark(fd_, FAN_MARK_ADD, events, AT_FDCWD, path.c_str()) != 0) {
      close(fd_);
      fd_ = -1;
    }
    if (fd_ >= 0) thread_ = std::thread([this] { Serve(); });
  }
  ~OpenHold() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  bool done() const { return done_; }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      alignas(fanotify_event_metadata) char buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      auto* e = reinterpret_cast<fanotify_event_metadata*>(buffer);
      for (ssize_t left = n; FAN_EVENT_OK(e, left); e = FAN_EVENT_NEXT(e, left)) {
        if (!done_) done_ = onOpen_(e->fd);
        fanotify_response answer{e->fd, FAN_ALLOW};
        (void)!write(fd_, &answer, sizeof answer);
        close(e->fd);
      }
    }
  }
  std::function<bool(int)> onOpen_;
  int fd_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false}, done_{false};
};

// Every file under a folder by its path there, with its bytes.
std::map<std::string, Bytes> Tree(const std::string& dir) {
  std::map<std::string, Bytes> files;
  for (const auto& item : std::filesystem::recursive_directory_iterator(dir))
    files[std::filesystem::relative(item.path(), dir).string()] = item.is_directory() ? Bytes{} : testutil::ReadFile(item.path().string());
  return files;
}

// A folder-card save is written under a temporary name and read back before it takes its
// place: when the folder read back holds something that was not written, the card is left
// as it was, with no temporary folder, and the refusal says what was found.
TEST(CardHostile, AFolderCardSaveThatReadsBackWrongIsNotPutInPlace) {
  testutil::TempDir dir;
  auto c = FolderCardWithOneSave(dir, "BESLES-00010J");
  ASSERT_TRUE(c);
  const std::string cardPath = c->path();
  const std::map<std::string, Bytes> before = Tree(cardPath);
  testutil::WriteFile(dir.File("held"), testutil::MakeBytes(5000, 4));
  for (const char* folder : {"BESLES-00011K", "BESLES-00010J"}) {  // a new save, and one replacing a save
    CGeneric save;
    ASSERT_TRUE(save.AddEntryFromDisk(dir.File("held"), "DATA"));
    save.SetName(-1, folder);
    // Once the save's folder is there under its temporary name, something else lands in it.
    OpenHold hold(dir.File("held"), [&] {
      for (const auto& item : std::filesystem::directory_iterator(cardPath))
        if (item.path().filename().string().starts_with("_pcsx2_tmp_")) {
          testutil::WriteFile((item.path() / "STRAY").string(), testutil::MakeBytes(10, 5));
          return true;
        }
      return false;
    });
    if (!hold.ok()) GTEST_SKIP() << "file opens can't be watched here (fanotify needs root)";
    card::ImportOptions options;
    options.replace = true;
    const card::ImportOutcome o = c->Import(save, options);
    EXPECT_TRUE(hold.done()) << folder;
    EXPECT_EQ(o.result, card::ImportResult::kWouldDamage) << folder;
    EXPECT_EQ(card::messages::ImportMessage(o),
              std::string(folder) + " was not written: read back, the new save folder in Mcd001.ps2 has \"STRAY\", "
                                    "which was not written; the card is unchanged");
    EXPECT_TRUE(Tree(cardPath) == before) << folder;
  }
}

// A changed PS1 card is read back before it replaces the old one, as a PS2 card is: when
// what reads back is no card (its bytes changed on the disk once written), the change is
// refused and the card's file is left as it was.
TEST(CardHostile, APs1CardThatReadsBackWrongIsNotPutInPlace) {
  testutil::TempDir dir;
  const std::string cardPath = dir.File("epsxe.mcr");
  ASSERT_EQ(card::FormatPs1Card(cardPath, card::Ps1FileKind::kRaw, false), card::FormatResult::kFormatted);
  const Bytes before = testutil::ReadFile(cardPath);
  auto c = card::OpenCard(cardPath).card;
  ASSERT_TRUE(c);
  CPs1Save save;
  save.Assign("BESLES-00001A", 8192, InMemory{testutil::MakePs1Blocks(1)}, nullptr, std::nullopt);
  // The new card, complete in its temporary file, loses its "MC" as it is opened to be read back.
  OpenHold hold(dir.path().string(), std::function<bool(int)>([](int fd) {
    char path[64], name[4096] = {};
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    struct stat st {};
    if (readlink(path, name, sizeof name - 1) <= 0 || fstat(fd, &st) != 0) return false;
    if (!std::string_view(name).ends_with(".part") || st.st_size != static_cast<off_t>(card::kPs1CardBytes)) return false;
    const std::uint8_t zeros[2] = {};
    return pwrite(fd, zeros, sizeof zeros, 0) == 2;
  }), /*inFolder=*/true);
  if (!hold.ok()) GTEST_SKIP() << "file opens can't be watched here (fanotify needs root)";
  const card::ImportOutcome o = c->Import(save);
  EXPECT_TRUE(hold.done());
  EXPECT_EQ(o.result, card::ImportResult::kWouldDamage);
  EXPECT_EQ(card::messages::ImportMessage(o),
            "BESLES-00001A was not written: the new epsxe.mcr read back with damage the old one does not have "
            "(Not a PlayStation 1 memory card); the card is unchanged");
  EXPECT_EQ(testutil::ReadFile(cardPath), before);
}
#endif

// The size an import reports is the one the listing shows (the root's new cluster is the
// card's, not the save's).
TEST(CardHostile, ImportReportsTheSizeTheListingShows) {
  testutil::TempDir dir;
  CardFile f = CardFile::Format(dir.File("card.ps2"), true);
  auto c = card::OpenCard(f.path()).card;
  const card::ImportOutcome o = c->Import(*TitledSave(dir, "BESLES-00009I", 50 * 1024));
  EXPECT_EQ(card::messages::ImportMessage(o), "BESLES-00009I copied to the card (53 KB)");
  EXPECT_EQ(c->List().saves.at(0).sizeKB, 53u);
}

}  // namespace

namespace {

// A card with two saves, each an icon.sys and 3,000 bytes of DATA: the root at clusters
// 0-1, A's directory at 2-3, its files at 4 and 5-7; B's directory at 8-9, its files at 10
// and 11-13.
CardFile CardWithTwoSaves(const testutil::TempDir& dir) {
  CardFile f = CardFile::Format(dir.File("two.ps2"), true);
  {
    auto c = card::OpenCard(f.path()).card;
    EXPECT_EQ(c->Import(*TitledSave(dir, "BESLES-00010A", 3000)).result, card::ImportResult::kImported);
    EXPECT_EQ(c->Import(*TitledSave(dir, "BESLES-00011B", 3000)).result, card::ImportResult::kImported);
  }
  return CardFile::Read(f.path());
}

// Replaces the entry at `page` with a directory of `length` entries at cluster `first`,
// named `name`.
void MakeDirectory(CardFile& f, std::uint64_t page, const char* name, std::uint32_t first, std::uint32_t length) {
  DirEntry e = f.Entry(page);
  e.mode = EntryMode::kNewDirectory;
  e.cluster = first;
  e.length = length;
  e.SetName(name);
  f.SetEntry(page, e);
}

// Folders nested inside A's DATA, each of two clusters from cluster 100 holding one more:
// DATA/D/D/... nine deep, the first also holding a file F whose chain runs into a free
// cluster.
void NestFolders(CardFile& f) {
  constexpr std::uint32_t kLevels = 8;
  MakeDirectory(f, f.EntryPage(2, 3), "DATA", 100, 4);
  for (std::uint32_t level = 0; level < kLevels; ++level) {
    const std::uint32_t c = 100 + 2 * level;
    f.SetFat(c, 0x80000000 | (c + 1));
    f.SetFat(c + 1, 0xFFFFFFFF);
    MakeDirectory(f, f.ClusterPage(c + 1), "D", c + 2, 3);
  }
  DirEntry file = f.Entry(f.ClusterPage(101));
  file.mode = EntryMode::kNewFile;
  file.cluster = 300;  // free
  file.length = 10;
  file.SetName("F");
  f.SetEntry(f.ClusterPage(101) + 1, file);
}

}  // namespace

// Each finding names where it is as the console's browser would ("save/file", the root
// directory, a page) and the saves it makes unreadable say why: the same text whether the
// card is read from its file or held in memory.
TEST(CardHostile, EachFindingNamesItsPlace) {
  testutil::TempDir dir{testutil::FastTempBase()};
  const CardFile base = CardWithTwoSaves(dir);
  struct Row {
    const char* why;
    std::function<void(CardFile&)> change;
    std::vector<std::string> lines;   // every issue, as a report shows it
    std::vector<std::string> damage;  // each save's
  };
  auto setEntry = [](std::uint32_t dirCluster, std::uint32_t index, std::function<void(DirEntry&)> change) {
    return [=](CardFile& f) {
      DirEntry e = f.Entry(f.EntryPage(dirCluster, index));
      change(e);
      f.SetEntry(f.EntryPage(dirCluster, index), e);
    };
  };
  auto flip = [](std::uint32_t dirCluster, std::uint32_t index, std::size_t byte, std::uint8_t bits) {
    return [=](CardFile& f) { f.Page(f.EntryPage(dirCluster, index))[byte] ^= bits; };
  };
  const std::string a = "BESLES-00010A";
  const std::string crossIntoIcon = "the chain runs into cluster 4, which belongs to " + a + "/icon.sys";
  const std::string intoRoot = "the chain runs into cluster 0, which belongs to the root directory";
  const std::string overRoot = "the directory's clusters are those of the root directory, which holds it";
  const std::string subfolder = ": a folder inside the save, which a save file can't carry";
  const std::string slash = ": a name with \"/\", which no card entry can have";
  const Row rows[] = {
      {"a file running into its neighbour", setEntry(2, 3, [](DirEntry& e) { e.cluster = 4; }),
       {"damage: " + a + "/DATA: " + crossIntoIcon,
        "damage: " + a + "/icon.sys: its cluster 4 is also reached by " + a + "/DATA"},
       {crossIntoIcon, ""}},
      {"a file running into another save's", setEntry(8, 3, [](DirEntry& e) { e.cluster = 5; }),
       {"damage: BESLES-00011B/DATA: the chain runs into cluster 5, which belongs to " + a + "/DATA",
        "damage: " + a + "/DATA: its cluster 5 is also reached by BESLES-00011B/DATA"},
       {"its cluster 5 is also reached by BESLES-00011B/DATA",
        "the chain runs into cluster 5, which belongs to " + a + "/DATA"}},
      {"a file running into the root", setEntry(2, 3, [](DirEntry& e) { e.cluster = 0; }),
       {"damage: " + a + "/DATA: " + intoRoot,
        "damage: the root directory: its cluster 0 is also reached by " + a + "/DATA"},
       {intoRoot, ""}},
      {"a save over the root", setEntry(0, 2, [](DirEntry& e) { e.cluster = 0; }),
       {"damage: " + a + ": " + overRoot}, {overRoot, ""}},
      {"a subfolder over its own save", [](CardFile& f) { MakeDirectory(f, f.EntryPage(2, 3), "SUB", 2, 4); },
       {"notice: " + a + "/SUB" + subfolder,
        "damage: " + a + "/SUB: the directory's clusters are those of " + a + ", which holds it"},
       {"", ""}},
      {"a subfolder over a file", [](CardFile& f) { MakeDirectory(f, f.EntryPage(2, 3), "SUB", 4, 2); },
       {"notice: " + a + "/SUB" + subfolder, "damage: " + a + "/SUB: " + crossIntoIcon,
        "damage: " + a + "/icon.sys: its cluster 4 is also reached by " + a + "/SUB"},
       {crossIntoIcon, ""}},
      {"folders nested too deep", NestFolders,
       {"notice: " + a + "/DATA" + subfolder, "damage: " + a + "/DATA/D/D/D/D/D/D/D: folders nested more than 8 deep",
        "damage: " + a + "/DATA/F: the chain runs into cluster 300, marked free"},
       {"", ""}},
      {"a file named with a slash", setEntry(2, 3, [](DirEntry& e) { e.SetName("DA/TA"); }),
       {"damage: " + a + "/DA/TA" + slash}, {"", ""}},
      {"a save named with a slash", setEntry(0, 2, [](DirEntry& e) { e.SetName("BESLES/00010A"); }),
       {"damage: BESLES/00010A" + slash}, {"", ""}},
      {"a wrong \".\"", setEntry(2, 0, [](DirEntry& e) { e.cluster = 9; }),
       {"notice: " + a + "/.: \".\" names cluster 9 and entry 2 instead of 0 and 2"}, {"", ""}},
      {"a loop in a file at the root",
       [&](CardFile& f) {
         setEntry(0, 2, [](DirEntry& e) { e.mode = EntryMode::kNewFile; })(f);
         f.SetFat(3, 0x80000002);
       },
       {"damage: " + a + ": the chain comes back to cluster 2"}, {""}},
      {"a data bit of a directory page", flip(2, 3, 300, 0x04),
       {"notice: page 89: one wrong bit in chunk 2, corrected when read"}, {"", ""}},
      {"a code bit of a directory page", flip(2, 3, 512 + 7, 0x01),
       {"notice: page 89: one wrong bit in the ECC of chunk 2"}, {"", ""}},
      {"two data bits of a directory page", flip(2, 3, 300, 0x06),
       {"damage: page 89: more than one wrong bit in chunk 2: the data can't be corrected"}, {"", ""}},
  };
  for (const Row& r : rows) {
    CardFile f = base;
    r.change(f);
    f.Store();
    for (const card::CardReading reading : {card::CardReading::kFromFile, card::CardReading::kHeld}) {
      const card::OpenedCard opened = card::OpenCard(f.path(), reading);
      ASSERT_TRUE(opened.card) << r.why;
      std::vector<std::string> lines, damage;
      for (const card::Issue& i : opened.issues) lines.push_back(card::messages::IssueLine(i));
      for (const card::SaveInfo& s : opened.card->List().saves) damage.push_back(s.damage);
      EXPECT_EQ(lines, r.lines) << r.why;
      EXPECT_EQ(damage, r.damage) << r.why;
    }
  }
}
