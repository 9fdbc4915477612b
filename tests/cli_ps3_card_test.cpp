// The card commands on the PS3's cards, run in order: each row's exit status and a part of
// what it printed ("@" names a file of the test's folder).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/cli_runner.h"
#include "support/psu_builder.h"

namespace fs = std::filesystem;

TEST(CliPs3Card, EveryCommandOnAVmeAndTheSizesAPs3Takes) {
  testutil::TempDir dir(testutil::FastTempBase());
  testutil::PsuImage image;
  image.folder = "BESLES-22222BBB";
  image.files = {{"icon.sys", testutil::MakeIconSys("\x82\x60")}, {"DATA", testutil::MakeBytes(70000, 2)}};
  testutil::WriteFile(dir.File("two.psu"), image.Build());
  const std::string warn16 = "warning: Some games refuse a card of 16 MB";
  const struct {
    std::vector<std::string> args;
    int code;
    std::string printed;  // a part of stdout, or of stderr when the command failed or warned
  } rows[] = {
      {{"card", "format", "@card.ps2"}, 0, "Card formatted"},
      {{"card", "format", "--size", "16M", "@big.bin"}, 0, warn16},
      {{"card", "format", "--size", "64M", "@huge.bin"}, 0, "64 MB"},
      {{"card", "convert", "@card.ps2", "@SCEVMC0.VME"}, 0, "(PS2 Classics card (.VME), retail key)"},
      {{"card", "import", "@SCEVMC0.VME", "@two.psu"}, 0, "BESLES-22222BBB"},
      {{"card", "ls", "--json", "@SCEVMC0.VME"}, 0, "\"type\": \"PS2 Classics card (.VME)\""},
      {{"card", "export", "@SCEVMC0.VME", "BESLES-22222BBB", "-o", "@out"}, 0, "BESLES-22222BBB.psu"},
      {{"card", "check", "@SCEVMC0.VME"}, 0, "No problems found"},
      {{"info", "@SCEVMC0.VME:BESLES-22222BBB"}, 0, "DATA"},
      {{"card", "convert", "--key", "debug", "@SCEVMC0.VME", "@SCEVMC1.VME"}, 0, "debug key"},
      {{"card", "convert", "@SCEVMC1.VME", "@back.mcd"}, 0, "(raw)"},
      {{"card", "convert", "@back.mcd", "@again.vme"}, 0, "retail key"},
      {{"card", "rm", "@again.vme", "BESLES-22222BBB"}, 0, ""},
      {{"card", "convert", "--key", "debug", "@card.ps2", "@x.vm2"}, 2, "--key names the key of a new .VME"},
      {{"card", "convert", "--key", "nope", "@card.ps2", "@x.vme"}, 2, "--key is retail or debug, not \"nope\""},
      {{"card", "convert", "--raw", "@card.ps2", "@x.vme"}, 2, "a PS2 Classics card (.VME) has ECC"},
      {{"card", "convert", "@big.bin", "@x.vme"}, 1, "Not converted: a .VME is made only of an 8 MB card"},
      {{"card", "convert", "@huge.bin", "@x.vm2"}, 1, "Not converted: a PS3 takes .VM2 cards up to 32 MB"},
      {{"card", "convert", "@big.bin", "@big.vm2"}, 0, warn16},
      {{"card", "ls", "--json", "@big.vm2"}, 0, "\"type\": \"PS3 card (.VM2)\""},
      {{"card", "format", "--as", "vm2", "--size", "64M", "@x.bin"}, 1, "Not formatted: a PS3 takes .VM2 cards up to 32 MB"},
      {{"card", "format", "--size", "16M", "@x.vme"}, 1, "Not formatted: a .VME is made only of an 8 MB card"},
      {{"card", "format", "--key", "debug", "@x.ps2"}, 2, "--key names the key of a new .VME"},
      {{"card", "format", "--as", "vme", "--key", "debug", "@new.bin"}, 0, "(PS2 Classics card (.VME), debug key)"},
      {{"card", "format", "@PS3/new.VM2"}, 0, "(PS3 card (.VM2))"},
      {{"card", "convert", "@new.bin", "@PS3/SCEVMC0.VME"}, 0, "retail key"},
      {{"sd", "ls", "@"}, 0, "PS3/SCEVMC0.VME"},
      {{"sd", "ls", "@"}, 0, "PS3/new.VM2"},
  };
  fs::create_directories(dir.path() / "PS3");
  for (const auto& r : rows) {
    std::vector<std::string> args;
    for (const std::string& a : r.args) args.push_back(a.starts_with("@") ? dir.File(a.substr(1)) : a);
    const testutil::CliRun run = testutil::RunCli(args);
    EXPECT_EQ(run.code, r.code) << args[1] << " " << args.back() << "\n" << run.err;
    EXPECT_NE((run.out + run.err).find(r.printed), std::string::npos) << args.back() << "\n" << run.out << run.err;
  }
  for (const char* never : {"x.vme", "x.vm2", "x.bin", "x.ps2"}) EXPECT_FALSE(fs::exists(dir.path() / never)) << never;
  EXPECT_EQ(fs::file_size(dir.path() / "new.bin"), 8667136u);
  EXPECT_EQ(testutil::RunCli({"card", "ls", dir.File("SCEVMC0.VME")}).out, testutil::RunCli({"card", "ls", dir.File("back.mcd")}).out);
}
