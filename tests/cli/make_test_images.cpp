// Writes the disc images that the identify end-to-end test checks, with our
// own image writer, into the folder given as the only argument. The boot
// files of the size cases are also written beside them as <name>.bin, so that
// the test can compare our MD5 with md5sum's.
#include <stdio.h>
#include <string>

#include "support/iso_builder.h"

static std::string folder;

static bool put(const std::string& name, const std::string& bytes) {
  if (write_file(folder + "/" + name, bytes)) return true;
  fprintf(stderr, "cannot write %s\n", name.c_str());
  return false;
}

// Bytes that are not all alike, so that an MD5 mistake in any position shows.
static std::string pattern(size_t size) {
  std::string data(size, '\0');
  uint32_t x = 2463534242u;
  for (size_t i = 0; i < size; i++) {
    x ^= x << 13; x ^= x >> 17; x ^= x << 5;
    data[i] = (char)x;
  }
  return data;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_test_images FOLDER\n");
    return 2;
  }
  folder = argv[1];
  bool ok = true;
  static const char* const serials[] = {"SXPE_100.01", "SXUS_100.02", "SXPJ_100.03", "SXPE_200.01", "SXUS_200.02",
                                        "SXPE_300.01", "SXUS_300.02", "SXPE_400.01", "SXUS_400.02"};
  for (int row = 0; row < 9; row++)
    ok &= put("row" + std::to_string(row) + ".iso", build_disc(serials[row], reference_boot_file(serials[row])));

  ok &= put("row0_other_revision.iso", build_disc("SXPE_100.01", "a patched boot file"));

  IsoLayout no_boot;
  no_boot.root.push_back({IsoItem::FILE, "SYSTEM.CNF;1", system_cnf("SXUS_100.02")});
  ok &= put("row1_no_boot_file.iso", build_iso(no_boot));

  ok &= put("unknown_serial.iso", build_disc("SLUS_209.99", "another game"));

  IsoLayout ps1;
  ps1.root.push_back({IsoItem::FILE, "SYSTEM.CNF;1", "BOOT = cdrom:\\SLUS_000.01;1\r\n"});
  ok &= put("ps1.iso", build_iso(ps1));

  // Records laid out as real tools and odd tools do: padding at the end of a
  // sector, a whole empty sector, lower-case identifiers, no version suffix.
  IsoLayout odd;
  for (int i = 0; i < 40; i++)
    odd.root.push_back({IsoItem::FILE, "FILLER" + std::to_string(i) + ".DAT;1", "x"});
  odd.root.push_back({IsoItem::PAD_TO_SECTOR, "", ""});
  odd.root.push_back({IsoItem::EMPTY_SECTOR, "", ""});
  odd.root.push_back({IsoItem::FILE, "system.cnf;1", system_cnf("sxus_100.02")});
  odd.root.push_back({IsoItem::FILE, "SXUS_100.02", reference_boot_file("SXUS_100.02")});
  ok &= put("odd_layout.iso", build_iso(odd));

  // A serial with a tab and a byte that is not text: neither may reach the
  // tab-separated UTF-8 output as it is.
  IsoLayout odd_serial;
  odd_serial.root.push_back({IsoItem::FILE, "SYSTEM.CNF;1", "BOOT2 = cdrom0:\\SX\tP\xff" "E_1;1\r\n"});
  ok &= put("odd_serial.iso", build_iso(odd_serial));

  ok &= put("not_an_image.iso", pattern(40000));
  ok &= put("too_short.iso", std::string(34815, '\0'));

  static const size_t sizes[] = {0, 55, 56, 64, 5 * 1048576 + 3, 67108863, 67108864};
  for (size_t size : sizes) {
    std::string boot = pattern(size);
    std::string name = "boot_" + std::to_string(size);
    ok &= put(name + ".bin", boot);
    ok &= put(name + ".iso", build_disc("SXPE_100.01", boot));
  }
  return ok ? 0 : 1;
}
