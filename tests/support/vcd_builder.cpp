#include "support/vcd_builder.h"

#include <algorithm>

namespace testutil {

namespace {

// A directory record; its sector and size both ways round.
Bytes Record(std::string_view name, std::size_t sector, std::size_t size, bool directory) {
  Bytes r(33 + name.size() + (name.size() + 1) % 2, 0);
  r[0] = static_cast<std::uint8_t>(r.size());
  for (int i = 0; i < 4; ++i) {
    r[2 + i] = r[9 - i] = static_cast<std::uint8_t>(sector >> (8 * i));
    r[10 + i] = r[17 - i] = static_cast<std::uint8_t>(size >> (8 * i));
  }
  r[25] = directory ? 2 : 0;
  r[32] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), r.begin() + 33);
  return r;
}

}  // namespace

Bytes MakeIsoDisc(const std::vector<IsoFile>& files) {
  std::size_t recordBytes = 68, rootSectors = 1;
  for (const IsoFile& f : files) {
    const std::size_t n = 33 + f.name.size() + (f.name.size() + 1) % 2;
    if (recordBytes + n > kIsoSector) ++rootSectors, recordBytes = 0;
    recordBytes += n;
  }
  std::vector<Bytes> records = {Record(std::string(1, '\0'), 18, rootSectors * kIsoSector, true),
                                Record(std::string(1, '\1'), 18, rootSectors * kIsoSector, true)};
  std::size_t next = 18 + rootSectors;
  for (const IsoFile& f : files) {
    records.push_back(Record(f.name, next, f.data.size(), false));
    next += (f.data.size() + kIsoSector - 1) / kIsoSector;
  }
  Bytes disc(next * kIsoSector, 0);
  for (std::size_t sector : {16, 17}) {
    std::uint8_t* d = &disc[sector * kIsoSector];
    d[0] = sector == 16 ? 1 : 255, d[6] = 1;
    std::copy_n("CD001", 5, d + 1);
  }
  disc[16 * kIsoSector + 129] = disc[16 * kIsoSector + 130] = 0x08;  // blocks of 2,048
  std::copy(records[0].begin(), records[0].end(), &disc[16 * kIsoSector + 156]);
  std::size_t at = 18 * kIsoSector;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (at % kIsoSector + records[i].size() > kIsoSector) at += kIsoSector - at % kIsoSector;
    std::copy(records[i].begin(), records[i].end(), &disc[at]);
    at += records[i].size();
    if (i >= 2) std::copy(files[i - 2].data.begin(), files[i - 2].data.end(), disc.begin() + (records[i][2] | records[i][3] << 8) * 2048);
  }
  return disc;
}

std::size_t VcdDataOffset(std::size_t sector) { return 0x100000 + sector * 2352 + 24; }

Bytes MakeVcd(const Bytes& disc, std::size_t pregap) {
  const std::size_t sectors = disc.size() / kIsoSector + pregap;
  Bytes vcd(VcdDataOffset(sectors) - 24, 0);
  for (std::size_t s = 0; s < sectors; ++s) {
    std::uint8_t* raw = &vcd[VcdDataOffset(s) - 24];
    std::fill_n(raw + 1, 10, 0xFF);  // sync
    raw[15] = 2;                     // Mode 2
    if (s >= pregap) std::copy_n(&disc[(s - pregap) * kIsoSector], kIsoSector, raw + 24);
  }
  return vcd;
}

Bytes MakeVcdBooting(const std::string& startup, std::size_t pregap) {
  const std::string cnf = "BOOT = cdrom:\\" + startup + ";1\r\nTCB = 4\r\nSTACK = 801FFFF0\r\n";
  return MakeVcd(MakeIsoDisc({{"PSX.EXE;1", MakeBytes(3000, 7)}, {"SYSTEM.CNF;1", FromString(cnf)}}), pregap);
}

}  // namespace testutil
