// The record kept beside a partial download, and the Content-Range of a 206
// answer: what is written reads back the same, and anything else (a record
// edited, cut, of another format, with a validator that could not stand in a
// header) is no record at all, so that a partial is never resumed on a guess.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "transfer/resume_record.h"

namespace {

ResumeRecord make_record(const char* address, uint64_t length, const char* etag, const char* last_modified) {
  ResumeRecord r;
  memset(&r, 0, sizeof r);
  strcpy(r.address, address);
  r.length = length;
  strcpy(r.etag, etag);
  strcpy(r.last_modified, last_modified);
  return r;
}

std::string formatted(const ResumeRecord& r) {
  char text[RESUME_RECORD_BYTES];
  size_t n = format_resume_record(&r, text, sizeof text);
  return std::string(text, n);
}

TEST(ResumeRecord, WhatIsWrittenReadsBackWithItsValidator) {
  const struct {
    const char* etag;
    const char* date;
    const char* validator;  // what If-Range sends
  } cases[] = {
      {"\"abc-1\"", "", "\"abc-1\""},
      {"", "Tue, 01 Dec 2026 10:00:00 GMT", "Tue, 01 Dec 2026 10:00:00 GMT"},
      {"\"x\"", "Tue, 01 Dec 2026 10:00:00 GMT", "\"x\""},  // the ETag is the stronger of the two
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.etag) + "|" + c.date);
    ResumeRecord written = make_record("http://127.0.0.1:8080/mox1/kit \xc3\xa9.zip", 52428800, c.etag, c.date);
    std::string text = formatted(written);
    ASSERT_FALSE(text.empty());
    ResumeRecord read;
    ASSERT_TRUE(parse_resume_record(text.data(), text.size(), &read)) << text;
    EXPECT_STREQ(read.address, written.address);
    EXPECT_EQ(read.length, 52428800u);
    EXPECT_STREQ(read.etag, c.etag);
    EXPECT_STREQ(read.last_modified, c.date);
    EXPECT_STREQ(resume_validator(&read), c.validator);
  }
}

TEST(ResumeRecord, RecordsThatCannotBeTrustedAreNotWritten) {
  const struct {
    const char* name;
    ResumeRecord record;
  } cases[] = {
      {"no validator", make_record("http://h/a.zip", 10, "", "")},
      {"weak etag", make_record("http://h/a.zip", 10, "W/\"a\"", "")},
      {"unquoted etag", make_record("http://h/a.zip", 10, "abc", "")},
      {"line break in the date", make_record("http://h/a.zip", 10, "", "Tue\r\nX-Evil: 1")},
      {"line break in the address", make_record("http://h/a.zip\nlength 5", 10, "\"a\"", "")},
      {"zero length", make_record("http://h/a.zip", 0, "\"a\"", "")},
      {"no address", make_record("", 10, "\"a\"", "")},
  };
  for (const auto& c : cases) {
    char text[RESUME_RECORD_BYTES];
    EXPECT_EQ(format_resume_record(&c.record, text, sizeof text), 0u) << c.name;
    EXPECT_STREQ(text, "") << c.name;
  }
  // Nor one that does not fit the caller's buffer.
  ResumeRecord r = make_record("http://h/a.zip", 10, "\"a\"", "");
  char small[20];
  EXPECT_EQ(format_resume_record(&r, small, sizeof small), 0u);
}

TEST(ResumeRecord, AnythingButAWrittenRecordIsNone) {
  std::string good = formatted(make_record("http://h/a.zip", 1000, "\"v1\"", ""));
  ASSERT_FALSE(good.empty());
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"another header", "telvar partial download 2\naddress http://h/a.zip\nlength 1000\netag \"v1\"\n"},
      {"cut before its last line break", good.substr(0, good.size() - 1)},
      {"cut in the middle", good.substr(0, good.size() / 2)},
      {"no length", "telvar partial download 1\naddress http://h/a.zip\netag \"v1\"\n"},
      {"signed length", "telvar partial download 1\naddress http://h/a.zip\nlength -1\netag \"v1\"\n"},
      {"length of 20 digits",
       "telvar partial download 1\naddress http://h/a.zip\nlength 18446744073709551616\netag \"v1\"\n"},
      {"zero length", "telvar partial download 1\naddress http://h/a.zip\nlength 0\netag \"v1\"\n"},
      {"no validator", "telvar partial download 1\naddress http://h/a.zip\nlength 1000\n"},
      {"weak etag", "telvar partial download 1\naddress http://h/a.zip\nlength 1000\netag W/\"v1\"\n"},
      {"repeated field", good + "length 5\n"},
      {"unknown field", good + "size 5\n"},
      {"carriage returns", "telvar partial download 1\r\naddress http://h/a.zip\r\nlength 1000\r\netag \"v1\"\r\n"},
      {"zero byte inside", good.substr(0, 40) + std::string(1, '\0') + good.substr(40)},
  };
  for (const auto& c : cases) {
    ResumeRecord r;
    memset(&r, 0x55, sizeof r);
    EXPECT_FALSE(parse_resume_record(c.text.data(), c.text.size(), &r)) << c.name;
    EXPECT_EQ(r.address[0], 0) << c.name << ": a refused record is cleared";
    EXPECT_EQ(r.length, 0u) << c.name;
  }
}

TEST(ContentRange, OnlyAWholeByteRangeOfAKnownLengthReads) {
  const struct {
    const char* text;
    bool ok;
    uint64_t first, last, total;
  } cases[] = {
      {"bytes 100-999/1000", true, 100, 999, 1000},
      {" bytes 0-0/1 ", true, 0, 0, 1},
      {"bytes 31457280-52428799/52428800", true, 31457280, 52428799, 52428800},
      {"bytes 100-999/*", false, 0, 0, 0},
      {"bytes */1000", false, 0, 0, 0},
      {"bytes 500-100/1000", false, 0, 0, 0},   // last before first
      {"bytes 100-1000/1000", false, 0, 0, 0},  // last past the end
      {"items 100-999/1000", false, 0, 0, 0},
      {"bytes 100-999/1000x", false, 0, 0, 0},
      {"bytes -5-999/1000", false, 0, 0, 0},
      {"bytes 1-2/99999999999999999999", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    uint64_t first = 0, last = 0, total = 0;
    EXPECT_EQ(parse_content_range(c.text, &first, &last, &total), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(first, c.first) << c.text;
      EXPECT_EQ(last, c.last) << c.text;
      EXPECT_EQ(total, c.total) << c.text;
    }
  }
}

}  // namespace
