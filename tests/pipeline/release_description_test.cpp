// The build description reader and the archive-name check.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "pipeline/release_description.h"

namespace {

// The three members every description needs, for cases about the others.
const char REQUIRED[] = R"("version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip")";

std::string with_required(const std::string& members) {
  return "{" + std::string(REQUIRED) + (members.empty() ? "" : ", " + members) + "}";
}

TEST(ReleaseDescription, FillsEveryMemberAndNeedsThreeOfThem) {
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
    if (!c.valid) {
      EXPECT_STREQ(desc.kit_sha256, "") << "a refused description leaves no field behind";
    }
  }
  parse_release_description(R"({"version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip"})", &desc);
  EXPECT_STREQ(desc.toolchain_sha256, "");
  EXPECT_STREQ(desc.levels, "");
}

// What the release maker writes: json.dump with an indent of two, one member
// a line, UTF-8 as it stands, a final line end; and the fixtures' rewrite,
// which escapes everything beyond ASCII.
TEST(ReleaseDescription, ReadsWhatTheReleaseMakerWrites) {
  const char* made = "{\n  \"version\": \"v1\",\n  \"toolchain_version\": \"t1\",\n"
                     "  \"toolchain_file\": \"toolchain-t1.zip\",\n  \"toolchain_sha256\": \"0a1b\",\n"
                     "  \"kit_file\": \"mox1-kit-v1.zip\",\n  \"kit_sha256\": \"2c3d\",\n"
                     "  \"levels\": \"0,1,2\"\n}\n";
  ReleaseDescription desc;
  ASSERT_TRUE(parse_release_description(made, &desc));
  EXPECT_STREQ(desc.kit_file, "mox1-kit-v1.zip");
  EXPECT_STREQ(desc.levels, "0,1,2");

  ASSERT_TRUE(parse_release_description(
      "{\"version\": \"\xC3\xA9t\xC3\xA9\", \"toolchain_file\": \"t.zip\", \"kit_file\": \"k.zip\"}", &desc));
  EXPECT_STREQ(desc.version, "\xC3\xA9t\xC3\xA9");
  ASSERT_TRUE(parse_release_description(
      R"({"version": "\u00e9t\u00e9", "toolchain_file": "t.zip", "kit_file": "k.zip"})", &desc));
  EXPECT_STREQ(desc.version, "\xC3\xA9t\xC3\xA9");
}

// The whole text is one complete JSON object: a description cut anywhere, or
// followed by anything but blanks, is refused, so a body that ended early can
// never drop the checksums at its end.
TEST(ReleaseDescription, WholeTextMustBeOneCompleteObject) {
  const std::string whole = R"({"version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip", "kit_sha256": "ab"})";
  struct Case {
    const char* name;
    std::string text;
    bool valid;
  } cases[] = {
      {"whole", whole, true},
      {"blanks and line ends around it", " \t\r\n" + whole + "\r\n \t", true},
      {"a UTF-8 byte order mark before it", "\xEF\xBB\xBF" + whole, true},
      {"blanks, tabs and line ends between the tokens",
       "{ \"version\"\t:\r\n\"1\" ,\n\"toolchain_file\" : \"t.zip\" , \"kit_file\":\"k.zip\" }", true},
      {"cut before the closing brace", whole.substr(0, whole.size() - 1), false},
      {"cut inside the last value", R"({"version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip", "kit_sha256": "a)",
       false},
      {"cut after a comma", R"({"version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip",)", false},
      {"cut after a key", R"({"version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip", "kit_sha256")", false},
      {"cut after a colon", R"({"version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip", "kit_sha256":)", false},
      {"text after the closing brace", whole + "x", false},
      {"a second object after it", whole + "{}", false},
      {"a second closing brace", whole + "}", false},
      {"empty", "", false},
      {"only blanks", "  \n", false},
      {"not JSON at all", "version = 3", false},
      {"an array", "[" + whole + "]", false},
      {"a string", R"("version")", false},
      {"a trailing comma", R"({"version": "1", "toolchain_file": "t.zip", "kit_file": "k.zip",})", false},
      {"a missing comma", R"({"version": "1" "toolchain_file": "t.zip", "kit_file": "k.zip"})", false},
      {"a missing colon", R"({"version" "1", "toolchain_file": "t.zip", "kit_file": "k.zip"})", false},
      {"two colons", R"({"version":: "1", "toolchain_file": "t.zip", "kit_file": "k.zip"})", false},
      {"a key without quotes", R"({version: "1", "toolchain_file": "t.zip", "kit_file": "k.zip"})", false},
      {"single quotes", R"({'version': '1', "toolchain_file": "t.zip", "kit_file": "k.zip"})", false},
      {"a comment", "{\"version\": \"1\", // c\n\"toolchain_file\": \"t.zip\", \"kit_file\": \"k.zip\"}", false},
      {"a form feed is no JSON blank", "\f" + whole, false},
  };
  for (const Case& c : cases) {
    ReleaseDescription desc;
    EXPECT_EQ(parse_release_description(c.text.c_str(), &desc), c.valid) << c.name;
  }
}

// Keys are matched where keys stand, never inside a value, and each key may
// appear once: a value that names a key no longer hides the member itself.
TEST(ReleaseDescription, KeysMatchOnlyAsKeysAndOnlyOnce) {
  struct Case {
    const char* name;
    std::string text;
    bool valid;
    const char* version;
    const char* toolchain_sha256;
  } cases[] = {
      {"a value naming a key before the member",
       with_required(R"("note": "toolchain_sha256", "toolchain_sha256": "ab")"), true, "1", "ab"},
      {"a value naming the key with its quotes",
       "{\"note\": \"\\\"version\\\": \\\"9\\\"\", " + std::string(REQUIRED) + "}", true, "1", ""},
      {"a longer key holding the name", with_required(R"("toolchain_sha256_old": "ff")"), true, "1", ""},
      {"toolchain_version is not version", R"({"toolchain_version": "9", "toolchain_file": "t", "kit_file": "k"})",
       false, "", ""},
      {"a key written with an escape is the same key",
       R"({"vers\u0069on": "2", "toolchain_file": "t.zip", "kit_file": "k.zip"})", true, "2", ""},
      {"a long unknown key that starts like a known one", with_required("\"version" + std::string(200, 'x') + "\": \"9\""),
       true, "1", ""},
      {"a known key twice", with_required(R"("version": "2")"), false, "", ""},
      {"a checksum twice, the second empty", with_required(R"("toolchain_sha256": "ab", "toolchain_sha256": "")"),
       false, "", ""},
      {"an unknown key twice", with_required(R"("note": "a", "note": "b")"), false, "", ""},
      {"the same key once escaped", with_required(R"("note": "a", "n\u006fte": "b")"), false, "", ""},
      {"keys differing in case are two keys", with_required(R"("Version": "9", "VERSION": "8")"), true, "1", ""},
  };
  for (const Case& c : cases) {
    ReleaseDescription desc;
    ASSERT_EQ(parse_release_description(c.text.c_str(), &desc), c.valid) << c.name;
    EXPECT_STREQ(desc.version, c.version) << c.name;
    EXPECT_STREQ(desc.toolchain_sha256, c.toolchain_sha256) << c.name;
  }
}

// Escapes are decoded to UTF-8; a bad escape, a lone surrogate, a raw control
// character or bytes that are not UTF-8 make the description not valid.
TEST(ReleaseDescription, DecodesEscapesAndRefusesBadStrings) {
  struct Case {
    const char* name;
    const char* value;     // as written between the quotes of kit_sha256
    bool valid;
    const char* decoded;
  } cases[] = {
      {"plain", "ab12", true, "ab12"},
      {"quote, backslash and slash", R"(a\"b\\c\/d)", true, "a\"b\\c/d"},
      {"the control escapes", R"(\b\f\n\r\t)", true, "\b\f\n\r\t"},
      {"a two-byte character", R"(\u00E9)", true, "\xC3\xA9"},
      {"a three-byte character", R"(\u20ac)", true, "\xE2\x82\xAC"},
      {"a surrogate pair", R"(\ud83d\ude00)", true, "\xF0\x9F\x98\x80"},
      {"the last character", R"(\uDBFF\uDFFF)", true, "\xF4\x8F\xBF\xBF"},
      {"UTF-8 as it stands", "\xF0\x9F\x98\x80\xE2\x82\xAC", true, "\xF0\x9F\x98\x80\xE2\x82\xAC"},
      {"an unknown escape", R"(\x41)", false, ""},
      {"an escaped single quote", R"(\')", false, ""},
      {"a short \\u", R"(\u12)", false, ""},
      {"a \\u with a bad digit", R"(\u12G4)", false, ""},
      {"a lone high surrogate", R"(\ud83d)", false, ""},
      {"a high surrogate before a letter", R"(\ud83dx)", false, ""},
      {"two high surrogates", R"(\ud83d\ud83d)", false, ""},
      {"a lone low surrogate", R"(\ude00)", false, ""},
      {"an escaped zero", R"(a\u0000b)", false, ""},
      {"a raw line break", "a\nb", false, ""},
      {"a raw tab", "a\tb", false, ""},
      {"a lone continuation byte", "a\x80", false, ""},
      {"a cut sequence", "a\xC3", false, ""},
      {"an overlong slash", "\xC0\xAF", false, ""},
      {"an encoded surrogate", "\xED\xA0\x80", false, ""},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", false, ""},
      {"a byte never in UTF-8", "\xFF", false, ""},
  };
  for (const Case& c : cases) {
    std::string text = with_required("\"kit_sha256\": \"" + std::string(c.value) + "\"");
    ReleaseDescription desc;
    ASSERT_EQ(parse_release_description(text.c_str(), &desc), c.valid) << c.name;
    EXPECT_STREQ(desc.kit_sha256, c.decoded) << c.name;
    // The same string where an unknown member's value stands is checked as well.
    text = with_required("\"note\": \"" + std::string(c.value) + "\"");
    EXPECT_EQ(parse_release_description(text.c_str(), &desc), c.valid) << c.name << " (unknown member)";
  }
  // A bad escape in a key is as bad as one in a value.
  ReleaseDescription desc;
  EXPECT_FALSE(parse_release_description(with_required(R"("n\ote": "a")").c_str(), &desc));
  EXPECT_FALSE(parse_release_description(with_required(R"("\ud800": "a")").c_str(), &desc));
}

// A value that does not fit its field is refused whole rather than cut, which
// would fetch another file or test another checksum. The decoded length counts.
TEST(ReleaseDescription, ValueThatDoesNotFitItsFieldIsNotValid) {
  struct Case {
    const char* key;
    size_t capacity;
  } cases[] = {
      {"version", RELEASE_VERSION_BYTES},        {"toolchain_version", RELEASE_VERSION_BYTES},
      {"toolchain_file", RELEASE_FILE_BYTES},    {"kit_file", RELEASE_FILE_BYTES},
      {"toolchain_sha256", RELEASE_SHA256_BYTES}, {"kit_sha256", RELEASE_SHA256_BYTES},
      {"levels", RELEASE_LEVELS_BYTES},
  };
  for (const Case& c : cases) {
    for (size_t length : {c.capacity - 1, c.capacity}) {
      std::string value(length, '1');
      // The long value in place of its member, the other required ones as usual.
      std::string text = "{\"" + std::string(c.key) + "\": \"" + value + "\"";
      for (const char* key : {"version", "toolchain_file", "kit_file"})
        if (strcmp(key, c.key) != 0) text += ", \"" + std::string(key) + "\": \"x.zip\"";
      text += "}";
      bool fits = length < c.capacity;
      ReleaseDescription desc;
      EXPECT_EQ(parse_release_description(text.c_str(), &desc), fits) << c.key << " " << length;
      const char* fields[] = {desc.version,          desc.toolchain_version, desc.toolchain_file, desc.kit_file,
                              desc.toolchain_sha256, desc.kit_sha256,        desc.levels};
      int whole = 0;
      for (const char* f : fields) whole += std::string(f) == value;
      EXPECT_EQ(whole, fits ? 1 : 0) << c.key << " " << length << ": kept whole or not at all";
    }
  }
  // Six bytes of the text, one byte of the field: an escaped kit file name of
  // 127 decoded bytes fits though its text is far longer.
  std::string escaped;
  for (int i = 0; i < RELEASE_FILE_BYTES - 1; i++) escaped += "\\u0041";
  std::string text = R"({"version": "1", "toolchain_file": "t.zip", "kit_file": ")" + escaped + "\"}";
  ReleaseDescription desc;
  ASSERT_TRUE(parse_release_description(text.c_str(), &desc));
  EXPECT_EQ(std::string(desc.kit_file), std::string(RELEASE_FILE_BYTES - 1, 'A'));
  // A two-byte character that would end one byte past the field is not cut in half either.
  text = R"({"version": ")" + std::string(RELEASE_VERSION_BYTES - 2, 'v') + "\xC3\xA9\", " +
         R"("toolchain_file": "t.zip", "kit_file": "k.zip"})";
  EXPECT_FALSE(parse_release_description(text.c_str(), &desc));
}

// The level list reaches the build script's command line as it stands, so it
// may hold level numbers and commas and nothing else.
TEST(ReleaseDescription, LevelsHoldOnlyDigitsAndCommas) {
  struct Case {
    const char* levels;
    bool valid;
  } cases[] = {
      {"0,1,2", true},
      {"18", true},
      {"", true},  // the default list
      {"0 --repo ..\\\\elsewhere", false},
      {"0,1 ,2", false},
      {"[1", false},
      {"1;2", false},
      {"0,1\\\"", false},
      {"\\u0661", false},  // an Arabic-Indic digit is no level number
      {"-1", false},
  };
  for (const Case& c : cases) {
    std::string text = with_required("\"levels\": \"" + std::string(c.levels) + "\"");
    ReleaseDescription desc;
    EXPECT_EQ(parse_release_description(text.c_str(), &desc), c.valid) << c.levels;
  }
}

// Members of other types: the release's own members must be strings (a number
// or an array in their place means the description is not what this launcher
// reads); a member it does not know may also be a number, true, false or null
// and is skipped. The object stays flat: arrays and objects are refused.
TEST(ReleaseDescription, OtherValueTypes) {
  struct Case {
    const char* name;
    std::string text;
    bool valid;
  } cases[] = {
      {"version as a number", R"({"version": 12, "toolchain_file": "t.zip", "kit_file": "k.zip"})", false},
      {"levels as an array", with_required(R"("levels": [1,2])"), false},
      {"a checksum as null", with_required(R"("kit_sha256": null)"), false},
      {"a checksum as false", with_required(R"("kit_sha256": false)"), false},
      {"unknown members of every scalar type",
       with_required(R"("size": 1234, "ratio": -0.5e+3, "beta": true, "old": false, "none": null, "z": 0)"), true},
      {"an unknown array", with_required(R"("files": ["a", "b"])"), false},
      {"an unknown object", with_required(R"("extra": {"a": "b"})"), false},
      {"an empty unknown object", with_required(R"("extra": {})"), false},
      {"a number with a leading zero", with_required(R"("size": 012)"), false},
      {"a number ending in a point", with_required(R"("size": 1.)"), false},
      {"a lone minus", with_required(R"("size": -)"), false},
      {"a plus sign", with_required(R"("size": +1)"), false},
      {"an exponent without digits", with_required(R"("size": 1e)"), false},
      {"a hexadecimal number", with_required(R"("size": 0x10)"), false},
      {"a literal in capitals", with_required(R"("beta": True)"), false},
      {"a cut literal", with_required(R"("beta": tru)"), false},
      {"a literal running on", with_required(R"("beta": truex)"), false},
      {"a bare word", with_required(R"("beta": yes)"), false},
      {"an empty object", "{}", false},
  };
  for (const Case& c : cases) {
    ReleaseDescription desc;
    EXPECT_EQ(parse_release_description(c.text.c_str(), &desc), c.valid) << c.name;
  }
}

// A repeated build of the same release must find its own stamp: the settings
// file gives stamps back without the blanks around them and without a pair of
// quotes around them, so the blanks are trimmed here and a version that
// starts or ends with a quote (or a blank of another script, which the
// profile functions may also drop) is refused.
TEST(ReleaseDescription, VersionsAreTrimmedOrRefused) {
  struct Case {
    const char* name;
    const char* version;   // as written in the JSON text
    const char* toolchain_version;
    bool valid;
    const char* read_version;
    const char* read_toolchain_version;
  } cases[] = {
      {"plain", "7.1.0", "t1", true, "7.1.0", "t1"},
      {"blanks around both", "  7.1.0 ", " t1  ", true, "7.1.0", "t1"},
      {"blanks inside stay", " v 1 (beta) ", "t 1", true, "v 1 (beta)", "t 1"},
      {"quotes inside stay", R"(7.1 \"final\" b2)", "t1", true, "7.1 \"final\" b2", "t1"},
      {"only blanks: no version", "   ", "t1", false, "", ""},
      {"a blank toolchain version is an empty one", "1", "  ", true, "1", ""},
      {"double quotes around", R"(\"7.1.0\")", "t1", false, "", ""},
      {"single quotes around", "'7.1.0'", "t1", false, "", ""},
      {"a quote at the start", R"(\"7.1.0)", "t1", false, "", ""},
      {"a quote at the end, after blanks", "7.1.0' ", "t1", false, "", ""},
      {"quotes around the toolchain version", "1", "'t1'", false, "", ""},
      {"a no-break space at the end", "7.1.0\\u00a0", "t1", false, "", ""},
      {"an ideographic space at the start", "\\u30007.1.0", "t1", false, "", ""},
      {"a no-break space inside", "7.1\\u00a0beta", "t1", true, "7.1\xC2\xA0" "beta", "t1"},
  };
  for (const Case& c : cases) {
    std::string text = std::string("{\"version\": \"") + c.version + "\", \"toolchain_version\": \"" +
                       c.toolchain_version + "\", \"toolchain_file\": \"t.zip\", \"kit_file\": \"k.zip\"}";
    ReleaseDescription desc;
    ASSERT_EQ(parse_release_description(text.c_str(), &desc), c.valid) << c.name;
    EXPECT_STREQ(desc.version, c.read_version) << c.name;
    EXPECT_STREQ(desc.toolchain_version, c.read_toolchain_version) << c.name;
  }
}

TEST(ReleaseDescription, SizeAndMemberLimits) {
  // At most 1 MiB of text, blanks included.
  std::string body = with_required("");
  std::string at_limit = body + std::string(DESCRIPTION_TEXT_LIMIT - body.size(), ' ');
  ReleaseDescription desc;
  EXPECT_TRUE(parse_release_description(at_limit.c_str(), &desc));
  std::string over = at_limit + " ";
  EXPECT_FALSE(parse_release_description(over.c_str(), &desc));

  // At most DESCRIPTION_MEMBER_LIMIT members.
  std::string members = REQUIRED;
  for (int i = 3; i < DESCRIPTION_MEMBER_LIMIT; i++) members += ", \"m" + std::to_string(i) + "\": \"x\"";
  std::string text = "{" + members + "}";
  EXPECT_TRUE(parse_release_description(text.c_str(), &desc));
  text = "{" + members + ", \"one_more\": 1}";
  EXPECT_FALSE(parse_release_description(text.c_str(), &desc));
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
      {"COM0", false},            {"lpt0.zip", false},          {"com0 .zip", false},
      // The superscript digits one to three count as digits for the platform.
      {"COM\xC2\xB9", false},     {"com\xC2\xB2.zip", false},   {"Com\xC2\xB3 .zip", false},
      {"LPT\xC2\xB9.zip", false}, {"lpt\xC2\xB2", false},       {"LpT\xC2\xB3.tar.gz", false},
      {"console.zip", true},      {"com10.zip", true},          {"nul-kit.zip", true},
      {"com.zip", true},          {"COM\xC2\xB9" "0.zip", true},  {"COM\xC2\xB4.zip", true},
      {"LPT\xC2\xB0.zip", true},  {"COMA.zip", true},
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
