// The build description's text lookups and the archive-name check.
#include <gtest/gtest.h>

#include <string>

#include "pipeline/release_description.h"

namespace {

std::string lookup(const char* text, const char* key, size_t capacity = 256) {
  std::string out(capacity, '\0');
  out[0] = '#';  // marks "untouched"
  out[1] = 0;
  find_json_field(text, key, &out[0], capacity);
  return std::string(out.c_str());
}

struct FieldCase {
  const char* name;
  const char* text;
  const char* key;
  const char* expected;  // "#" when the output must stay untouched
};

const FieldCase FIELD_CASES[] = {
    {"string", R"({"version": "1.2.3"})", "version", "1.2.3"},
    {"no blanks", R"({"version":"1.2.3"})", "version", "1.2.3"},
    {"tabs, line ends and colons before the value", "{\"version\"\t\r\n ::  \"v\"}", "version", "v"},
    {"number read as its text", R"({"version": 12, "x": 1})", "version", "12"},
    {"number at the end of the object", R"({"version": 12})", "version", "12"},
    {"true, false, null as text", R"({"a": true, "b": null})", "b", "null"},
    {"array gives its first characters", R"({"levels": [1,2]})", "levels", "[1"},
    {"key not present", R"({"version": "1"})", "kit_file", "#"},
    {"key does not match inside a longer key", R"({"toolchain_version": "9"})", "version", "#"},
    {"first occurrence wins, even inside a value", R"({"note": "version", "version": "1"})", "version", ""},
    {"escaped quote ends the value, backslash kept", R"({"version": "a\"b"})", "version", "a\\"},
    {"string running to the end of the text", R"({"version": "abc)", "version", "abc"},
    {"bare value running to the end of the text", R"({"version": 7)", "version", "7"},
    {"empty string", R"({"version": ""})", "version", ""},
    {"key at the very end", R"({"version")", "version", ""},
    {"not JSON at all", "version = 3", "version", "#"},
    {"UTF-8 bytes copied as they are", "{\"version\": \"\xC3\xA9t\xC3\xA9\"}", "version", "\xC3\xA9t\xC3\xA9"},
};

TEST(FindJsonField, ReadsValuesByTextSearch) {
  for (const FieldCase& c : FIELD_CASES) {
    EXPECT_EQ(lookup(c.text, c.key), c.expected) << c.name;
  }
}

TEST(FindJsonField, CutsLongValuesToCapacity) {
  std::string name(200, 'k');
  std::string text = "{\"kit_file\": \"" + name + "\"}";
  std::string got = lookup(text.c_str(), "kit_file", RELEASE_FILE_BYTES);
  EXPECT_EQ(got, name.substr(0, RELEASE_FILE_BYTES - 1));

  // A capacity of one leaves room only for the terminator.
  char one[1] = {'x'};
  find_json_field(R"({"version": "1.0"})", "version", one, 1);
  EXPECT_EQ(one[0], 0);
}

TEST(FindJsonField, KeyTooLongForThePatternIsNotLookedUp) {
  // The pattern would be cut to a prefix of the key and could find another key.
  std::string key(100, 'a');
  std::string prefix(93, 'a');
  std::string text = "{\"" + prefix + "\": \"wrong\"}";
  EXPECT_EQ(lookup(text.c_str(), key.c_str()), "#");
}

TEST(ParseReleaseDescription, FillsEveryMemberAndNeedsThreeOfThem) {
  const char* full = R"({
    "version": "2026.12.1",
    "toolchain_version": "tc-7",
    "toolchain_file": "toolchain.zip",
    "toolchain_sha256": "AB12",
    "kit_file": "mox1-kit.zip",
    "kit_sha256": "cd34",
    "levels": "0,1,2"
  })";
  ReleaseDescription desc;
  ASSERT_TRUE(parse_release_description(full, &desc));
  EXPECT_STREQ(desc.version, "2026.12.1");
  EXPECT_STREQ(desc.toolchain_version, "tc-7");
  EXPECT_STREQ(desc.toolchain_file, "toolchain.zip");
  EXPECT_STREQ(desc.toolchain_sha256, "AB12");
  EXPECT_STREQ(desc.kit_file, "mox1-kit.zip");
  EXPECT_STREQ(desc.kit_sha256, "cd34");
  EXPECT_STREQ(desc.levels, "0,1,2");

  struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {R"({"version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip"})", true},
      {R"({"toolchain_file": "t.zip", "kit_file": "k.zip"})", false},
      {R"({"version": "", "toolchain_file": "t.zip", "kit_file": "k.zip"})", false},
      {R"({"version": "1", "kit_file": "k.zip"})", false},
      {R"({"version": "1", "toolchain_file": "t.zip"})", false},
      {"", false},
      {"<html>404</html>", false},
  };
  for (const Case& c : cases) {
    // Fields left from an earlier parse must not leak into this one.
    ASSERT_TRUE(parse_release_description(full, &desc));
    EXPECT_EQ(parse_release_description(c.text, &desc), c.valid) << c.text;
  }
  parse_release_description(R"({"version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip"})", &desc);
  EXPECT_STREQ(desc.toolchain_sha256, "");
  EXPECT_STREQ(desc.levels, "");
}

TEST(ArchiveName, OnlyPlainFileNamesAreSafe) {
  struct Case {
    const char* name;
    bool safe;
  } cases[] = {
      {"toolchain-7.zip", true},  {"mox1 kit.zip", true},       {"a.b.zip", true},
      {"", false},                {"..", false},                {"../x.zip", false},
      {"..\\x.zip", false},       {"sub/x.zip", false},         {"sub\\x.zip", false},
      {"C:x.zip", false},         {"x.zip:stream", false},      {"notes..zip", false},
      {"/abs.zip", false},        {"kit\r\n.zip", false},     {"kit\t.zip", false},
      // Device names open the device, not a file in the downloads folder,
      // with or without an extension and in any case.
      {"NUL", false},             {"nul.zip", false},           {"COM1.zip", false},
      {"lpt9", false},            {"Con.tar.gz", false},        {"aux .zip", false},
      {"CONOUT$", false},         {"PRN", false},
      {"console.zip", true},      {"com10.zip", true},          {"nul-kit.zip", true},
      {"com.zip", true},
      // The platform drops a final dot or blank, so "." and " " would name the
      // folder itself; and it refuses these characters in a name.
      {".", false},               {" ", false},                 {"kit.zip.", false},
      {"kit.zip ", false},        {"kit?.zip", false},          {"kit*.zip", false},
      {"k<i>t.zip", false},       {"kit|.zip", false},          {"kit\".zip", false},
      {".hidden.zip", true},
  };
  for (const Case& c : cases) EXPECT_EQ(archive_name_is_safe(c.name), c.safe) << c.name;
}

TEST(VersionText, ControlCharactersAreRefused) {
  struct Case {
    const char* text;
    bool plain;
  } cases[] = {
      {"2026.12.1", true}, {"", true},        {"v 1 (beta)", true}, {"\xC3\xA9t\xC3\xA9", true},
      {"1\r\n[library]", false}, {"1\n", false}, {"\t1", false},      {"1\x7F", false},
  };
  for (const Case& c : cases) EXPECT_EQ(version_text_is_plain(c.text), c.plain) << c.text;
}

}  // namespace
