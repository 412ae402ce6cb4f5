// Zip archives made in memory by the tests, record by record, so that a test
// can give any field the value it needs (a damaged one included).
#pragma once
#include <stdint.h>
#include <string>
#include <vector>

struct MadeEntry {
  std::string name;
  uint16_t method = 0;          // 0 stored, 8 deflated, or anything
  std::string data;             // the bytes as they stand in the archive
  uint32_t uncompressed_size = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  std::string extra;            // central and local extra field
  std::string comment;          // entry comment
};

MadeEntry stored_entry(const std::string& name, const std::string& content);
// Deflated with fixed-code literals only (enough for a valid stream).
MadeEntry deflated_entry(const std::string& name, const std::string& content);
MadeEntry folder_entry(const std::string& name);

struct MadeZip {
  std::string bytes;
  std::vector<uint32_t> local_offsets;
  std::vector<uint32_t> central_offsets;
  uint32_t central_offset = 0;
  uint32_t end_offset = 0;
};

// Local headers and data, the central directory, the end record, comment.
MadeZip make_zip(const std::vector<MadeEntry>& entries, const std::string& comment = "");

void put_le16(std::string& bytes, size_t at, uint32_t value);
void put_le32(std::string& bytes, size_t at, uint32_t value);
