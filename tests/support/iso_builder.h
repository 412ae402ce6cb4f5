// A small ISO 9660 image writer for tests: a primary volume descriptor and a
// root directory laid out record by record, so that a test can place padding,
// zero bytes at sector starts and odd identifiers exactly where it wants them.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>

struct IsoItem {
  enum Kind { FILE, PAD_TO_SECTOR, EMPTY_SECTOR } kind = FILE;
  std::string identifier;   // as written, e.g. "SYSTEM.CNF;1", "boot.elf"
  std::string data;         // file contents
};

struct IsoLayout {
  std::vector<IsoItem> root;        // records of the root directory, in order
  bool write_cd001 = true;          // false: descriptor without the magic
  uint8_t descriptor_type = 1;      // type byte of the descriptor at sector 16
  int64_t root_size_override = -1;  // data length to record for the root, if >= 0
};

// The boot executable whose MD5 the catalogue knows for rows 0 and 1: the
// line "Project Telvar stand-in boot executable for <serial>\n" 1000 times.
std::string reference_boot_file(const std::string& serial);

// A SYSTEM.CNF naming serial as the boot file.
std::string system_cnf(const std::string& serial);

// The image bytes.
std::string build_iso(const IsoLayout& layout);

// An image of one disc: SYSTEM.CNF;1 naming serial and the boot file with data.
std::string build_disc(const std::string& serial, const std::string& boot_data);

bool write_file(const std::string& path, const std::string& bytes);
