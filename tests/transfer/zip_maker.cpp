// In-memory zip archives for the tests; see zip_maker.h.
#include "zip_maker.h"

#include "deflate_writer.h"

static void add16(std::string& s, uint32_t v) {
  s.push_back((char)(v & 0xFF));
  s.push_back((char)(v >> 8 & 0xFF));
}
static void add32(std::string& s, uint32_t v) {
  add16(s, v & 0xFFFF);
  add16(s, v >> 16);
}

void put_le16(std::string& bytes, size_t at, uint32_t value) {
  bytes[at] = (char)(value & 0xFF);
  bytes[at + 1] = (char)(value >> 8 & 0xFF);
}
void put_le32(std::string& bytes, size_t at, uint32_t value) {
  put_le16(bytes, at, value & 0xFFFF);
  put_le16(bytes, at + 2, value >> 16);
}

MadeEntry stored_entry(const std::string& name, const std::string& content) {
  MadeEntry e;
  e.name = name;
  e.data = content;
  e.uncompressed_size = (uint32_t)content.size();
  e.dos_date = (uint16_t)((2021 - 1980) << 9 | 6 << 5 | 15);  // 2021-06-15
  e.dos_time = (uint16_t)(13 << 11 | 45 << 5 | 30 / 2);       // 13:45:30
  return e;
}

MadeEntry deflated_entry(const std::string& name, const std::string& content) {
  MadeEntry e = stored_entry(name, content);
  e.method = 8;
  BitWriter w;
  w.bits(1, 1);
  w.bits(1, 2);
  for (unsigned char c : content) fixed_symbol(w, c);
  fixed_symbol(w, 256);
  e.data = w.finish();
  return e;
}

MadeEntry folder_entry(const std::string& name) { return stored_entry(name, ""); }

MadeZip make_zip(const std::vector<MadeEntry>& entries, const std::string& comment) {
  MadeZip zip;
  std::string& s = zip.bytes;
  for (const MadeEntry& e : entries) {
    zip.local_offsets.push_back((uint32_t)s.size());
    add32(s, 0x04034b50);
    add16(s, 20);
    add16(s, 0);
    add16(s, e.method);
    add16(s, e.dos_time);
    add16(s, e.dos_date);
    add32(s, 0);  // CRC-32: never checked
    add32(s, (uint32_t)e.data.size());
    add32(s, e.uncompressed_size);
    add16(s, (uint32_t)e.name.size());
    add16(s, (uint32_t)e.extra.size());
    s += e.name + e.extra + e.data;
  }
  zip.central_offset = (uint32_t)s.size();
  for (size_t i = 0; i < entries.size(); i++) {
    const MadeEntry& e = entries[i];
    zip.central_offsets.push_back((uint32_t)s.size());
    add32(s, 0x02014b50);
    add16(s, 20);
    add16(s, 20);
    add16(s, 0);
    add16(s, e.method);
    add16(s, e.dos_time);
    add16(s, e.dos_date);
    add32(s, 0);
    add32(s, (uint32_t)e.data.size());
    add32(s, e.uncompressed_size);
    add16(s, (uint32_t)e.name.size());
    add16(s, (uint32_t)e.extra.size());
    add16(s, (uint32_t)e.comment.size());
    add16(s, 0);
    add16(s, 0);
    add32(s, 0);
    add32(s, zip.local_offsets[i]);
    s += e.name + e.extra + e.comment;
  }
  zip.end_offset = (uint32_t)s.size();
  add32(s, 0x06054b50);
  add16(s, 0);
  add16(s, 0);
  add16(s, (uint32_t)entries.size());
  add16(s, (uint32_t)entries.size());
  add32(s, zip.end_offset - zip.central_offset);
  add32(s, zip.central_offset);
  add16(s, (uint32_t)comment.size());
  s += comment;
  return zip;
}
