// The texts a failed transfer shows, from its result record: every failure
// the transfer code can return has its text, word for word as the build job
// and telvar-cli show it, and a cancel says nothing.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "pipeline/transfer_texts.h"

namespace {

struct TextCase {
  TransferFailure failure;
  uint32_t code;
  uint64_t size;
  uint64_t limit;
  const wchar_t* detail;
  const wchar_t* entry;
  const wchar_t* text;  // for the name "the build kit"
};

const uint64_t MB = 1048576;

const TextCase TEXT_CASES[] = {
    {TRANSFER_OK, 0, 0, 0, L"", L"", L""},
    {TRANSFER_CANCELLED, 0, 0, 0, L"", L"", L""},
    {TRANSFER_BAD_ADDRESS, 0, 0, 0, L"htp:/x", L"", L"Bad address: htp:/x"},
    {TRANSFER_NO_CONNECTION, 12029, 0, 0, L"", L"",
     L"Could not download the build kit: no connection to the server could be made (Windows error 12029). Check "
     L"your internet connection; a firewall may be blocking the launcher."},
    {TRANSFER_REFUSED, 404, 0, 0, L"", L"", L"Could not download the build kit (the server answered 404)."},
    {TRANSFER_INTERRUPTED, 12030, 0, 0, L"", L"",
     L"The download of the build kit stopped: the connection to the server was broken (Windows error 12030). Try "
     L"again."},
    {TRANSFER_ENDED_EARLY, 0, 0, 0, L"", L"", L"The download of the build kit ended early."},
    {TRANSFER_TOO_LARGE, 0, 0, 2048 * MB, L"", L"",
     L"The download of the build kit stopped: it is larger than 2048 MB."},
    {TRANSFER_NO_MEMORY, 0, 0, 0, L"", L"", L"Not enough memory to download the build kit."},
    {TRANSFER_SOURCE_MISSING, 0, 0, 0, L"C:\\a\\kit.zip", L"", L"C:\\a\\kit.zip is not there."},
    {TRANSFER_READ_FAILED, 0, 0, 0, L"C:\\a\\kit.zip", L"", L"Could not read C:\\a\\kit.zip."},
    {TRANSFER_CANNOT_CREATE, 0, 0, 0, L"C:\\a\\out", L"", L"Could not write C:\\a\\out."},
    {TRANSFER_WRITE_FAILED, 0, 0, 0, L"C:\\a\\out", L"", L"Could not write C:\\a\\out (disk full?)."},
    {TRANSFER_LINK, 0, 0, 0, L"C:\\a\\out", L"",
     L"C:\\a\\out is a link to another place and could not be removed. Remove it and try again."},
    {TRANSFER_CANNOT_OPEN, 0, 0, 0, L"C:\\a\\kit.zip", L"", L"Could not open C:\\a\\kit.zip."},
    {TRANSFER_ARCHIVE_TOO_LARGE, 0, 4096 * MB, 0, L"", L"", L"the build kit is too large to unpack (4096 MB)."},
    {TRANSFER_ARCHIVE_NO_MEMORY, 0, 300 * MB, 0, L"", L"", L"Not enough memory to unpack the build kit (300 MB)."},
    {TRANSFER_NOT_ZIP, 0, 0, 0, L"", L"", L"the build kit is not a zip file."},
    {TRANSFER_DAMAGED, 0, 0, 0, L"", L"", L"the build kit is damaged."},
    {TRANSFER_NAME_TOO_LONG, 0, 0, 0, L"", L"", L"the build kit has a name too long."},
    {TRANSFER_ENTRY_DAMAGED, 0, 0, 0, L"", L"src/a.c", L"the build kit is damaged (src/a.c)."},
    {TRANSFER_UNKNOWN_METHOD, 0, 0, 0, L"", L"", L"the build kit uses an unknown compression."},
    {TRANSFER_UNPACKED_TOO_LARGE, 0, 9000 * MB, 8192 * MB, L"", L"",
     L"the build kit is too large: its files add up to 9000 MB, more than 8192 MB."},
    {TRANSFER_NO_SPACE, 0, 40 * MB, 12 * MB, L"C:\\a\\kit.zip", L"",
     L"Not enough free space to download the build kit: it needs 40 MB and the drive has 12 MB free."},
};

// A Windows error the failure words do not know keeps the plain sentence with
// its code and a general advice.
const TextCase UNKNOWN_CODE_CASES[] = {
    {TRANSFER_NO_CONNECTION, 12345, 0, 0, L"", L"",
     L"Could not download the build kit (Windows error 12345). Check your internet connection."},
    {TRANSFER_INTERRUPTED, 12345, 0, 0, L"", L"",
     L"The download of the build kit stopped (Windows error 12345). Try again."},
};

}  // namespace

TEST(TransferTexts, EveryFailureHasItsText) {
  for (const TextCase& c : TEXT_CASES) {
    TransferResult result;
    memset(&result, 0, sizeof result);
    result.failure = c.failure;
    result.code = c.code;
    result.size = c.size;
    result.limit = c.limit;
    wcscpy(result.detail, c.detail);
    wcscpy(result.entry, c.entry);
    wchar_t text[512];
    wcscpy(text, L"left over");
    transfer_failure_text(&result, L"the build kit", text, 512);
    EXPECT_EQ(std::wstring(text), c.text) << "failure " << (int)c.failure;
  }
  // The table above names every failure there is.
  EXPECT_EQ(sizeof TEXT_CASES / sizeof TEXT_CASES[0], (size_t)TRANSFER_NO_SPACE + 1);
  for (const TextCase& c : UNKNOWN_CODE_CASES) {
    TransferResult result;
    memset(&result, 0, sizeof result);
    result.failure = c.failure;
    result.code = c.code;
    wchar_t text[512];
    transfer_failure_text(&result, L"the build kit", text, 512);
    EXPECT_EQ(std::wstring(text), c.text) << "failure " << (int)c.failure;
  }
}

// A path as long as a result holds still ends as the text's own cut, as the
// job's error text always did.
TEST(TransferTexts, LongDetailsAreCutLikeTheJobText) {
  TransferResult result;
  memset(&result, 0, sizeof result);
  result.failure = TRANSFER_CANNOT_CREATE;
  for (int i = 0; i < TRANSFER_DETAIL_UNITS - 1; i++) result.detail[i] = L'a';
  wchar_t text[512];
  transfer_failure_text(&result, L"x", text, 512);
  EXPECT_EQ(wcslen(text), 511u);
  EXPECT_EQ(std::wstring(text, 16), L"Could not write ");
}
