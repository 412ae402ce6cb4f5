// The zip record walk over archive bytes: the end record search, central and
// local headers with every bound checked, and the name checks.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "transfer/inflate.h"
#include "transfer/zip_records.h"
#include "zip_maker.h"

namespace {

bool open_bytes(ZipArchive* archive, const std::string& bytes) {
  return zip_open(archive, (const uint8_t*)bytes.data(), (uint32_t)bytes.size());
}

TEST(ZipEndRecord, SearchWindow) {
  MadeZip plain = make_zip({stored_entry("a.txt", "A"), stored_entry("b.txt", "BB")});
  MadeZip long_comment = make_zip({stored_entry("a.txt", "A")}, std::string(65535, 'c'));
  std::string too_far = plain.bytes + std::string(65536, 'x');        // record 65558 from the end
  std::string just_in = plain.bytes + std::string(65535, 'x');        // record 65557 from the end
  struct Case {
    const char* name;
    std::string bytes;
    bool found;
    uint32_t total;
  } cases[] = {
      {"plain", plain.bytes, true, 2},
      {"comment of 65535 bytes", long_comment.bytes, true, 1},
      {"record just inside the window", just_in, true, 2},
      {"record beyond the window", too_far, false, 0},
      {"21 bytes", plain.bytes.substr(plain.end_offset, 21), false, 0},
      {"nothing", std::string(), false, 0},
      {"no signature", std::string(4096, 'P'), false, 0},
      {"the record alone", plain.bytes.substr(plain.end_offset), true, 2},
  };
  for (const Case& c : cases) {
    ZipArchive archive;
    EXPECT_EQ(open_bytes(&archive, c.bytes), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(archive.entry_total, c.total) << c.name;
    }
  }
}

TEST(ZipEndRecord, HighestSignatureWins) {
  // A comment that holds another end record: the later one is taken.
  MadeZip zip = make_zip({stored_entry("a.txt", "A")});
  std::string fake = zip.bytes.substr(zip.end_offset, 22);
  put_le16(fake, 10, 7);
  std::string bytes = zip.bytes.substr(0, zip.end_offset + 20) + std::string("\x16\x00", 2) + fake;
  ZipArchive archive;
  ASSERT_TRUE(open_bytes(&archive, bytes));
  EXPECT_EQ(archive.entry_total, 7u);
}

TEST(ZipCentral, WalksEveryHeader) {
  MadeEntry with_extra = deflated_entry("dir/b.bin", "bbbb");
  with_extra.extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
  with_extra.comment = "entry comment";
  MadeZip zip = make_zip({stored_entry("a.txt", "A"), with_extra, folder_entry("dir/")}, "archive comment");
  ZipArchive archive;
  ASSERT_TRUE(open_bytes(&archive, zip.bytes));
  ASSERT_EQ(archive.central_offset, zip.central_offset);
  const char* names[] = {"a.txt", "dir/b.bin", "dir/"};
  uint64_t cursor = archive.central_offset;
  for (int i = 0; i < 3; i++) {
    ZipEntry entry;
    ASSERT_EQ(zip_read_central(&archive, cursor, &entry), ZIP_RECORD_OK);
    EXPECT_STREQ(entry.name, names[i]);
    EXPECT_EQ(entry.local_offset, zip.local_offsets[i]);
    const uint8_t* data = nullptr;
    ASSERT_TRUE(zip_locate_data(&archive, &entry, &data));
    if (i == 1) {
      EXPECT_EQ(entry.method, 8);
      EXPECT_EQ(entry.uncompressed_size, 4u);
      uint8_t out[4];
      ASSERT_TRUE(inflate_raw(data, entry.compressed_size, out, 4));
      EXPECT_EQ(std::string((char*)out, 4), "bbbb");
    }
    cursor = entry.next_cursor;
  }
  EXPECT_EQ(cursor, zip.end_offset);
}

TEST(ZipCentral, DamagedHeaders) {
  MadeZip zip = make_zip({stored_entry("name.txt", "x")});
  uint32_t c = zip.central_offset;
  std::string bad_signature = zip.bytes;
  bad_signature[c] = 'Q';
  std::string long_name = zip.bytes;
  put_le16(long_name, c + 28, 0xFFFF);  // the name would run past the end
  struct Case {
    const char* name;
    std::string bytes;
    uint64_t cursor;
    ZipRecordResult result;
  } cases[] = {
      {"good", zip.bytes, c, ZIP_RECORD_OK},
      {"wrong signature", bad_signature, c, ZIP_RECORD_DAMAGED},
      {"fixed part cut", zip.bytes.substr(0, c + 45), c, ZIP_RECORD_DAMAGED},
      {"name cut", zip.bytes.substr(0, c + 46 + 7), c, ZIP_RECORD_DAMAGED},
      {"name past the end", long_name, c, ZIP_RECORD_DAMAGED},
      {"cursor past the end", zip.bytes, zip.bytes.size() + 1, ZIP_RECORD_DAMAGED},
      {"cursor near 4 GiB", zip.bytes, 0xFFFFFFF0ull, ZIP_RECORD_DAMAGED},
      {"cursor beyond 4 GiB", zip.bytes, 0x1FFFFFFF0ull, ZIP_RECORD_DAMAGED},
  };
  for (const Case& k : cases) {
    ZipArchive archive;
    archive.data = (const uint8_t*)k.bytes.data();
    archive.size = (uint32_t)k.bytes.size();
    ZipEntry entry;
    EXPECT_EQ(zip_read_central(&archive, k.cursor, &entry), k.result) << k.name;
  }
}

TEST(ZipCentral, NameOf511BytesIsAcceptedAnd512Refused) {
  for (size_t length : {511u, 512u, 700u}) {
    MadeZip zip = make_zip({stored_entry(std::string(length, 'n'), "x")});
    ZipArchive archive;
    ASSERT_TRUE(open_bytes(&archive, zip.bytes));
    ZipEntry entry;
    ZipRecordResult result = zip_read_central(&archive, archive.central_offset, &entry);
    if (length == 511) {
      ASSERT_EQ(result, ZIP_RECORD_OK);
      EXPECT_EQ(strlen(entry.name), 511u);
    } else {
      EXPECT_EQ(result, ZIP_RECORD_NAME_TOO_LONG) << length;
    }
  }
}

TEST(ZipLocal, DataMustLieInsideTheArchive) {
  MadeZip stored = make_zip({stored_entry("a.txt", "hello")});
  MadeZip deflated = make_zip({deflated_entry("a.txt", "hello")});
  struct Case {
    const char* name;
    const MadeZip* zip;
    uint32_t local_offset, compressed, uncompressed;
    bool ok;
  } cases[] = {
      {"stored", &stored, 0, 5, 5, true},
      {"stored, uncompressed size past the end", &stored, 0, 5, 0x7FFFFFFF, false},
      {"stored, compressed size past the end", &stored, 0, 0x7FFFFFFF, 5, false},
      {"deflated, large uncompressed size is the decoder's business", &deflated, 0, 0, 0x7FFFFFFF, true},
      {"local header offset past the end", &stored, 0x10000, 5, 5, false},
      {"local header offset near 4 GiB", &stored, 0xFFFFFFF0u, 5, 5, false},
      {"local header offset on the central header", &stored, stored.central_offset, 5, 5, false},
      {"sizes near 4 GiB", &stored, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, false},
      // Stored data are the file: a larger size would take in the records
      // that follow, a smaller one would cut the file.
      {"stored, uncompressed size larger than the data", &stored, 0, 5, 40, false},
      {"stored, uncompressed size smaller than the data", &stored, 0, 5, 3, false},
  };
  for (const Case& c : cases) {
    ZipArchive archive;
    ASSERT_TRUE(open_bytes(&archive, c.zip->bytes));
    ZipEntry entry;
    ASSERT_EQ(zip_read_central(&archive, archive.central_offset, &entry), ZIP_RECORD_OK);
    entry.local_offset = c.local_offset;
    if (c.compressed) entry.compressed_size = c.compressed;
    entry.uncompressed_size = c.uncompressed;
    const uint8_t* data = nullptr;
    EXPECT_EQ(zip_locate_data(&archive, &entry, &data), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(data, archive.data + 30 + 5);
    }
  }
  // A local header whose name and extra lengths carry the data past the end.
  std::string bytes = stored.bytes;
  put_le16(bytes, 28, 0xFFFF);
  ZipArchive archive;
  ASSERT_TRUE(open_bytes(&archive, bytes));
  ZipEntry entry;
  ASSERT_EQ(zip_read_central(&archive, archive.central_offset, &entry), ZIP_RECORD_OK);
  const uint8_t* data = nullptr;
  EXPECT_FALSE(zip_locate_data(&archive, &entry, &data));
}

// The survey before anything is written: entries whose bytes overlap, and
// archives that would unpack to more than 8 GiB in all.
TEST(ZipSurvey, OverlapsAndTotals) {
  MadeZip three = make_zip({stored_entry("a.txt", "AAAA"), deflated_entry("b.txt", "BBBB"), stored_entry("c.txt", "C")});

  // The zip bomb: several central records, one local header.
  std::string shared = three.bytes;
  put_le32(shared, three.central_offsets[2] + 42, three.local_offsets[0]);
  put_le32(shared, three.central_offsets[2] + 20, 4);
  put_le32(shared, three.central_offsets[2] + 24, 4);

  // The first entry's data claimed to run over the second's local header.
  MadeZip over = make_zip({deflated_entry("a.txt", "AAAA"), stored_entry("b.txt", "BBBB")});
  std::string overlapping = over.bytes;
  put_le32(overlapping, over.central_offsets[0] + 20, over.local_offsets[1] - 30 - 5 + 10);

  // Folder records and unsafe names are never written: sharing a header with
  // a file does them no harm.
  MadeZip ignored = make_zip({stored_entry("a.txt", "AAAA"), folder_entry("dir/"), stored_entry("../up.txt", "U")});
  std::string ignored_bytes = ignored.bytes;
  put_le32(ignored_bytes, ignored.central_offsets[1] + 42, ignored.local_offsets[0]);
  put_le32(ignored_bytes, ignored.central_offsets[2] + 42, ignored.local_offsets[0]);

  // The survey ends where the extraction stops with its own text (a damaged
  // local header): what lies beyond is never written.
  std::string stops = three.bytes;
  stops[three.local_offsets[1]] = 'X';
  put_le32(stops, three.central_offsets[2] + 42, three.local_offsets[0]);

  // Deflated entries whose claimed sizes add up to exactly 8 GiB, and one byte more.
  auto claiming = [](std::vector<uint32_t> sizes) {
    std::vector<MadeEntry> entries;
    for (size_t i = 0; i < sizes.size(); i++) {
      MadeEntry e = deflated_entry("big" + std::to_string(i), "x");
      e.uncompressed_size = sizes[i];
      entries.push_back(e);
    }
    return make_zip(entries).bytes;
  };
  const uint64_t GIB = 1ull << 30;

  struct Case {
    const char* name;
    std::string bytes;
    ZipSurveyResult result;
    uint64_t total;
  } cases[] = {
      {"plain", three.bytes, ZIP_SURVEY_OK, 9},
      {"two records, one local header", shared, ZIP_SURVEY_OVERLAP, 12},
      {"data over the next local header", overlapping, ZIP_SURVEY_OVERLAP, 8},
      {"folders and unsafe names on a file's header", ignored_bytes, ZIP_SURVEY_OK, 4},
      {"stops at a damaged local header", stops, ZIP_SURVEY_OK, 4},
      {"exactly 8 GiB", claiming({0xFFFFFFFFu, 0xFFFFFFFFu, 2}), ZIP_SURVEY_OK, 8 * GIB},
      {"8 GiB and one byte", claiming({0xFFFFFFFFu, 0xFFFFFFFFu, 3}), ZIP_SURVEY_TOO_LARGE, 8 * GIB + 1},
      {"12 GiB", claiming({0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}), ZIP_SURVEY_TOO_LARGE, 3 * 0xFFFFFFFFull},
  };
  static ZipSpan spans[ZIP_MAX_ENTRIES];
  for (const Case& c : cases) {
    ZipArchive archive;
    ASSERT_TRUE(open_bytes(&archive, c.bytes)) << c.name;
    uint64_t total = 0;
    EXPECT_EQ(zip_survey(&archive, spans, &total), c.result) << c.name;
    EXPECT_EQ(total, c.total) << c.name;
  }
}

// 65535 central records on one local header, the most an archive can count.
TEST(ZipSurvey, EveryRecordOnOneHeaderIsFound) {
  MadeZip one = make_zip({stored_entry("a", "payload")});
  std::string central = one.bytes.substr(one.central_offset, one.end_offset - one.central_offset);
  std::string bytes = one.bytes.substr(0, one.central_offset);
  for (int i = 0; i < ZIP_MAX_ENTRIES; i++) bytes += central;
  std::string end = one.bytes.substr(one.end_offset);
  put_le16(end, 8, ZIP_MAX_ENTRIES);
  put_le16(end, 10, ZIP_MAX_ENTRIES);
  bytes += end;
  ZipArchive archive;
  ASSERT_TRUE(open_bytes(&archive, bytes));
  static ZipSpan spans[ZIP_MAX_ENTRIES];
  uint64_t total = 0;
  EXPECT_EQ(zip_survey(&archive, spans, &total), ZIP_SURVEY_OVERLAP);
  EXPECT_EQ(total, 7ull * ZIP_MAX_ENTRIES);
}

// Names in messages: decoded, and never a control character.
TEST(ZipNames, DisplayNamesAreDecodedAndFreeOfControls) {
  struct Case {
    const char* name;
    std::string stored;
    uint16_t flags;
    std::string shown;
  } cases[] = {
      {"plain", "dir/file.txt", 0, "dir/file.txt"},
      {"UTF-8 by the flag", "caf\xc3\xa9.txt", ZIP_FLAG_UTF8, "caf\xc3\xa9.txt"},
      {"valid UTF-8 without the flag", "caf\xc3\xa9.txt", 0, "caf\xc3\xa9.txt"},
      {"code page 437", "caf\x82.txt", 0, "caf\xc3\xa9.txt"},
      {"code page 437 box drawing", "\xb0\xc9", 0, "\xe2\x96\x91\xe2\x95\x94"},
      {"escape sequence", "\x1b[2J\x1b]0;owned\x07.txt", 0, "?[2J?]0;owned?.txt"},
      {"escape sequence under the flag", "a\x1b[31mb", ZIP_FLAG_UTF8, "a?[31mb"},
      {"newline, tab, DEL", "a\nb\tc\x7f", 0, "a?b?c?"},
      {"C1 control in UTF-8", "a\xc2\x9b" "31mb", ZIP_FLAG_UTF8, "a?31mb"},
      {"C1 control as a Latin-1 byte", "a\x9b", 0, "a\xc2\xa2"},  // code page 437: the cent sign
      {"invalid UTF-8 under the flag", "a\xff\xc3(b", ZIP_FLAG_UTF8, "a??" "(b"},
      {"overlong slash under the flag", "a\xc0\xaf" "b", ZIP_FLAG_UTF8, "a??b"},
      {"surrogate under the flag", "\xed\xa0\x80", ZIP_FLAG_UTF8, "???"},
      {"four-byte character", "\xf0\x9f\x8e\xae", ZIP_FLAG_UTF8, "\xf0\x9f\x8e\xae"},
      {"cut sequence at the end", "ab\xe2\x82", ZIP_FLAG_UTF8, "ab??"},
  };
  for (const Case& c : cases) {
    ZipEntry entry;
    memset(&entry, 0, sizeof entry);
    memcpy(entry.name, c.stored.data(), c.stored.size());
    entry.name_length = (uint32_t)c.stored.size();
    entry.flags = c.flags;
    char shown[ZIP_DISPLAY_NAME_BYTES];
    zip_display_name(&entry, shown);
    EXPECT_EQ(std::string(shown), c.shown) << c.name;
  }
  // The longest name in the widest characters still fits.
  ZipEntry entry;
  memset(&entry, 0, sizeof entry);
  memset(entry.name, 0xb0, ZIP_NAME_UNITS - 1);
  entry.name_length = ZIP_NAME_UNITS - 1;
  char shown[ZIP_DISPLAY_NAME_BYTES];
  zip_display_name(&entry, shown);
  EXPECT_EQ(strlen(shown), (size_t)ZIP_DISPLAY_NAME_BYTES - 1);
}

TEST(ZipNames, UnsafeNamesAreRefused) {
  struct Case {
    const char* name;
    bool safe;
  } cases[] = {
      {"readme.txt", true},
      {"dir/sub/file.bin", true},
      {"dir/", true},
      {"a.b/c.d", true},
      {"", true},
      {"../evil", false},
      {"a/../../evil", false},
      {"notes..txt", false},
      {"..", false},
      {"/etc/passwd", false},
      {"\\windows\\x", false},
      {"C:/x", false},
      {"c:x", false},
      {"file:stream", false},
      {"dir\\..\\x", false},
      {"CON", false},
      {"con", false},
      {"nul.txt", false},
      {"Aux.tar.gz", false},
      {"prn", false},
      {"dir/COM1", false},
      {"com9.log", false},
      {"LPT1/inner.txt", false},
      {"lpt5", false},
      {"Con .log", false},
      {"conin$", false},
      {"CONOUT$.txt", false},
      {"COM\xc2\xb9.txt", false},
      {"lpt\xc2\xb3", false},
      {"dir\\nul", false},
      {"COM10.txt", true},
      {"COM0", true},
      {"LPT0.txt", true},
      {"console.txt", true},
      {"nullable", true},
      {"auxiliary/x", true},
      {"xcon", true},
      {"COM\xc2\xb4", true},
  };
  for (const Case& c : cases) EXPECT_EQ(zip_name_is_safe(c.name), c.safe) << "\"" << c.name << "\"";
}

}  // namespace
