// Zip extraction under Wine: real archives from zipfile and Info-ZIP unpack
// into trees equal to their sources with the entries' time stamps; unsafe
// names stay inside the destination; every failure gives its text.
#include <windows.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/state.h"
#include "pipeline/job_status.h"
#include "pipeline/transfer_texts.h"
#include "fixtures.h"
#include "support/temp_folder.h"
#include "transfer/zip_extract.h"
#include "transfer_listener.h"
#include "zip_maker.h"

namespace {

std::wstring widen(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, NULL, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], n);
  return out;
}

std::string narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, NULL, NULL);
  return out;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = WriteFile(f, bytes.data(), (DWORD)bytes.size(), &put, NULL) && put == bytes.size();
  CloseHandle(f);
  return ok;
}

std::string read_file(const std::wstring& path) {
  std::string bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (f == INVALID_HANDLE_VALUE) return "<missing>";
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(f, chunk, sizeof chunk, &got, NULL) && got > 0) bytes.append(chunk, got);
  CloseHandle(f);
  return bytes;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Every file and folder below root: relative path -> content ("<dir>" for folders).
void list_tree(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, std::string>* out) {
  WIN32_FIND_DATAW found;
  std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring rel = relative.empty() ? name : relative + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*out)[rel] = "<dir>";
      list_tree(root, rel, out);
    } else {
      (*out)[rel] = read_file(root + L"\\" + rel);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

std::map<std::wstring, std::string> tree(const std::wstring& root) {
  std::map<std::wstring, std::string> out;
  list_tree(root, L"", &out);
  return out;
}

std::wstring fixture(const std::string& name) { return widen(fixture_path(name)); }

std::wstring error_text() {
  wchar_t error[ERROR_TEXT_UNITS];
  job_read_texts(NULL, 0, error, ERROR_TEXT_UNITS);
  return error;
}

// Progress texts seen by the job listener during one extraction.
std::vector<std::wstring> g_stages;
void record_stage() {
  wchar_t stage[STAGE_TEXT_UNITS];
  job_read_texts(stage, STAGE_TEXT_UNITS, NULL, 0);
  if (g_stages.empty() || g_stages.back() != stage) g_stages.push_back(stage);
}

bool extract(const std::wstring& archive, const std::wstring& destination, const wchar_t* label = L"the archive",
             double from = 0.0, double to = 1.0) {
  reset_state();
  reset_job_status();
  g_stages.clear();
  set_job_listener(record_stage);
  bool ok = extract_zip(archive.c_str(), destination.c_str(), from, to, label);
  set_job_listener(NULL);
  return ok;
}

// The last-write time as local calendar fields "Y M D h m s".
std::string local_stamp(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return "<missing>";
  FILETIME local;
  SYSTEMTIME t;
  FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  FileTimeToSystemTime(&local, &t);
  char text[64];
  snprintf(text, sizeof text, "%u %u %u %u %u %u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  return text;
}

std::wstring backslashes(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

TEST(ZipExtract, ArchivesOfZipfileAndInfoZipGiveTheSourceTree) {
  std::map<std::wstring, std::string> source = tree(fixture("trees/basic"));
  ASSERT_GE(source.size(), 12u) << "fixture tree missing";
  const char* archives[] = {"py_stored.zip", "py_deflated.zip", "infozip.zip", "infozip_stored.zip",
                            "infozip_stream.zip"};
  for (const char* name : archives) {
    std::wstring dest = make_temp_folder(L"tree") + L"\\out";
    ASSERT_TRUE(extract(fixture(name), dest)) << name << ": " << narrow(error_text());
    EXPECT_EQ(g_job.failed, 0) << name;
    std::map<std::wstring, std::string> unpacked = tree(dest);
    EXPECT_EQ(unpacked.size(), source.size()) << name;
    for (auto& entry : source) {
      auto it = unpacked.find(entry.first);
      if (it == unpacked.end()) {
        ADD_FAILURE() << name << ": missing " << narrow(entry.first);
        continue;
      }
      EXPECT_TRUE(it->second == entry.second) << name << ": " << narrow(entry.first) << " differs";
    }
    // Each file's last-write time is its entry's DOS stamp, read as local time.
    std::string times;
    ASSERT_TRUE(read_whole_file(fixture_path(std::string(name) + ".times"), &times));
    size_t checked = 0;
    for (size_t at = 0; at < times.size();) {
      size_t end = times.find('\n', at);
      std::string line = times.substr(at, end - at);
      at = end + 1;
      size_t tab = line.find('\t');
      std::wstring path = dest + L"\\" + backslashes(widen(line.substr(tab + 1)));
      EXPECT_EQ(local_stamp(path), line.substr(0, tab)) << name << ": " << line;
      checked++;
    }
    EXPECT_EQ(checked, 8u) << name;
  }
}

TEST(ZipExtract, UnsafeNamesStayInsideAndSafeOnesUnpack) {
  std::wstring parent = make_temp_folder(L"unsafe");
  std::wstring dest = parent + L"\\dest";
  ASSERT_TRUE(extract(fixture("unsafe.zip"), dest)) << narrow(error_text());
  EXPECT_EQ(error_text(), L"");

  // Only the destination appeared in the parent folder.
  std::map<std::wstring, std::string> around = tree(parent);
  for (auto& entry : around)
    EXPECT_EQ(entry.first.rfind(L"dest", 0), 0u) << "written outside: " << narrow(entry.first);

  std::string safe_list;
  ASSERT_TRUE(read_whole_file(fixture_path("unsafe.zip.safe"), &safe_list));
  std::map<std::wstring, std::string> unpacked = tree(dest);
  size_t files = 0;
  for (auto& entry : unpacked)
    if (entry.second != "<dir>") files++;
  size_t expected = 0;
  for (size_t at = 0; at < safe_list.size();) {
    size_t end = safe_list.find('\n', at);
    std::string name = safe_list.substr(at, end - at);
    at = end + 1;
    expected++;
    auto it = unpacked.find(backslashes(widen(name)));
    ASSERT_TRUE(it != unpacked.end()) << "safe entry missing: " << name;
    EXPECT_NE(it->second.find(name), std::string::npos) << name;
  }
  EXPECT_EQ(files, expected);
  // The absolute and drive names did not land at a root either.
  for (const wchar_t* path : {L"\\abs.txt", L"\\back.txt", L"C:\\drive.txt", L"C:drive2.txt"})
    EXPECT_FALSE(exists(path)) << narrow(path);
}

struct FailureCase {
  const char* name;
  std::string bytes;
  std::wstring (*text)(const std::wstring& archive, const std::wstring& dest);
};

std::wstring not_zip(const std::wstring&, const std::wstring&) { return L"the archive is not a zip file."; }
std::wstring damaged(const std::wstring&, const std::wstring&) { return L"the archive is damaged."; }
std::wstring name_too_long(const std::wstring&, const std::wstring&) { return L"the archive has a name too long."; }
std::wstring bad_stream(const std::wstring&, const std::wstring&) { return L"the archive is damaged (dir/bad.bin)."; }
std::wstring unknown(const std::wstring&, const std::wstring&) { return L"the archive uses an unknown compression."; }

std::vector<FailureCase> failure_cases() {
  std::vector<FailureCase> cases;
  std::string real;
  read_whole_file(fixture_path("infozip.zip"), &real);
  MadeZip zip = make_zip({stored_entry("first.txt", "written before the fault"), stored_entry("dir/second.txt", "2")});
  std::string bad_central = zip.bytes;
  bad_central[zip.central_offsets[1] + 1] = 'X';
  std::string bad_local = zip.bytes;
  bad_local[zip.local_offsets[1]] = 'X';
  std::string data_outside = zip.bytes;
  put_le32(data_outside, zip.central_offsets[1] + 20, 100000);
  std::string central_outside = zip.bytes;
  put_le32(central_outside, zip.end_offset + 16, (uint32_t)zip.bytes.size() + 10);
  std::string too_many = zip.bytes;
  put_le16(too_many, zip.end_offset + 10, 3);  // the third header would be the end record
  MadeEntry corrupt = deflated_entry("dir/bad.bin", "some text to deflate");
  corrupt.data[corrupt.data.size() / 2] ^= 0x55;
  MadeEntry short_stream = deflated_entry("dir/bad.bin", "abcdef");
  short_stream.uncompressed_size = 7;  // the stream holds 6
  MadeEntry huge = deflated_entry("dir/bad.bin", "small");
  huge.uncompressed_size = 0xFFFFFFF0u;  // no block of that size in a 32-bit process
  MadeEntry bzip2 = stored_entry("deep/er/x.bz2", "BZh9");
  bzip2.method = 12;
  MadeEntry lzma = stored_entry("deep/er/x.lzma", "....");
  lzma.method = 14;

  cases.push_back({"empty file", "", not_zip});
  cases.push_back({"21 bytes", std::string(21, 'P'), not_zip});
  cases.push_back({"a text file", "This is not an archive.\n", not_zip});
  cases.push_back({"archive cut in half", real.substr(0, real.size() / 2), not_zip});
  cases.push_back({"central header signature", bad_central, damaged});
  cases.push_back({"local header signature", bad_local, damaged});
  cases.push_back({"entry data past the end", data_outside, damaged});
  cases.push_back({"central directory past the end", central_outside, damaged});
  cases.push_back({"more entries than headers", too_many, damaged});
  cases.push_back({"name of 512 bytes",
                   make_zip({stored_entry("first.txt", "written before the fault"), stored_entry(std::string(512, 'n'), "x")})
                       .bytes,
                   name_too_long});
  cases.push_back({"corrupt deflate data", make_zip({stored_entry("first.txt", "written before the fault"), corrupt}).bytes,
                   bad_stream});
  cases.push_back({"deflate data short of the size",
                   make_zip({stored_entry("first.txt", "written before the fault"), short_stream}).bytes, bad_stream});
  cases.push_back({"deflated size beyond memory", make_zip({stored_entry("first.txt", "written before the fault"), huge}).bytes,
                   bad_stream});
  cases.push_back({"method 12", make_zip({stored_entry("first.txt", "written before the fault"), bzip2}).bytes, unknown});
  cases.push_back({"method 14", make_zip({stored_entry("first.txt", "written before the fault"), lzma}).bytes, unknown});
  return cases;
}

TEST(ZipExtract, FailuresGiveTheirTexts) {
  for (const FailureCase& c : failure_cases()) {
    std::wstring folder = make_temp_folder(L"fail");
    std::wstring archive = folder + L"\\archive.zip";
    std::wstring dest = folder + L"\\dest";
    ASSERT_TRUE(write_file(archive, c.bytes));
    EXPECT_FALSE(extract(archive, dest)) << c.name;
    EXPECT_EQ(g_job.failed, 1) << c.name;
    EXPECT_EQ(narrow(error_text()), narrow(c.text(archive, dest))) << c.name;
    EXPECT_EQ(read_file(archive), c.bytes) << c.name << ": the archive itself must stay as it was";
    // An entry before the fault stays written.
    if (c.bytes.find("first.txt") != std::string::npos && c.text != not_zip &&
        std::string(c.name) != "central directory past the end") {
      EXPECT_EQ(read_file(dest + L"\\first.txt"), "written before the fault") << c.name;
    }
    // An unknown method fails after the entry's folders were made, and writes no file.
    if (c.text == unknown) {
      EXPECT_TRUE(exists(dest + L"\\deep\\er")) << c.name;
      EXPECT_FALSE(exists(dest + L"\\deep\\er\\x.bz2"));
      EXPECT_FALSE(exists(dest + L"\\deep\\er\\x.lzma"));
    }
  }
  // A missing archive names its path, with the caller's label nowhere.
  std::wstring folder = make_temp_folder(L"missing");
  std::wstring missing = folder + L"\\no such.zip";
  EXPECT_FALSE(extract(missing, folder + L"\\dest", L"the build kit"));
  EXPECT_EQ(error_text(), L"Could not open " + missing + L".");
  EXPECT_FALSE(exists(folder + L"\\dest"));
  // The label is the caller's.
  ASSERT_TRUE(write_file(folder + L"\\x.zip", "nothing"));
  EXPECT_FALSE(extract(folder + L"\\x.zip", folder + L"\\dest", L"the build tools"));
  EXPECT_EQ(error_text(), L"the build tools is not a zip file.");
}

TEST(ZipExtract, PathsLongerThan259AreRefusedAndNothingIsWrittenForThem) {
  std::wstring folder = make_temp_folder(L"long");
  std::wstring dest = folder + L"\\" + std::wstring(199 - folder.size(), L'd');  // exactly 200 characters
  ASSERT_EQ(dest.size(), 200u);
  std::string fits(58, 'f');       // 200 + 1 + 58 = 259: fits
  std::string too_long(59, 'g');   // 260: cut
  for (bool folder_entry_case : {false, true}) {
    std::string name = folder_entry_case ? "sub/" + std::string(60, 'h') + "/" : too_long;
    MadeZip zip = make_zip({stored_entry(fits, "fits"), stored_entry(name, "cut"), stored_entry("after.txt", "after")});
    std::wstring archive = folder + L"\\long.zip";
    ASSERT_TRUE(write_file(archive, zip.bytes));
    EXPECT_FALSE(extract(archive, dest));
    std::wstring cut = (dest + L"\\" + backslashes(widen(name))).substr(0, 259);
    EXPECT_EQ(error_text(), L"Could not write " + cut + L".");
    EXPECT_EQ(read_file(dest + L"\\" + widen(fits)), "fits");
    EXPECT_FALSE(exists(cut)) << "the cut path must not be created";
    EXPECT_FALSE(exists(dest + L"\\after.txt")) << "the extraction stops at the refused entry";
    DeleteFileW((dest + L"\\" + widen(fits)).c_str());
  }
  // A destination that itself does not fit is refused before anything is made.
  std::wstring long_dest = folder + L"\\" + std::wstring(300, L'e');
  MadeZip zip = make_zip({stored_entry("a.txt", "a")});
  ASSERT_TRUE(write_file(folder + L"\\a.zip", zip.bytes));
  EXPECT_FALSE(extract(folder + L"\\a.zip", long_dest));
  EXPECT_EQ(error_text(), L"Could not write " + long_dest.substr(0, 259) + L".");
  EXPECT_FALSE(exists(long_dest.substr(0, 259)));
}

TEST(ZipExtract, EntryOnAFolderCannotBeWritten) {
  std::wstring folder = make_temp_folder(L"onfolder");
  std::wstring dest = folder + L"\\dest";
  MadeZip zip = make_zip({folder_entry("taken/"), stored_entry("taken", "x")});
  ASSERT_TRUE(write_file(folder + L"\\a.zip", zip.bytes));
  EXPECT_FALSE(extract(folder + L"\\a.zip", dest));
  EXPECT_EQ(error_text(), L"Could not write " + dest + L"\\taken.");
}

TEST(ZipExtract, EmptyArchiveCreatesTheDestinationChain) {
  std::wstring folder = make_temp_folder(L"empty");
  std::wstring dest = folder + L"\\a\\b\\c";
  ASSERT_TRUE(write_file(folder + L"\\empty.zip", make_zip({}, "only a comment").bytes));
  EXPECT_TRUE(extract(folder + L"\\empty.zip", dest));
  EXPECT_TRUE(GetFileAttributesW(dest.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(exists(dest));
  EXPECT_TRUE(g_stages.empty());
}

TEST(ZipExtract, CancelStopsBeforeTheNextEntryWithoutText) {
  std::wstring folder = make_temp_folder(L"cancel");
  std::wstring dest = folder + L"\\dest";
  ASSERT_TRUE(write_file(folder + L"\\a.zip", make_zip({stored_entry("a.txt", "a")}).bytes));
  reset_state();
  reset_job_status();
  g_job.cancel_requested = 1;
  EXPECT_FALSE(extract_zip((folder + L"\\a.zip").c_str(), dest.c_str(), 0, 1, L"the archive"));
  EXPECT_EQ(error_text(), L"");
  EXPECT_EQ(g_job.failed, 0);
  EXPECT_FALSE(exists(dest + L"\\a.txt"));
}

TEST(ZipExtract, ProgressEverySixteenthRecord) {
  struct Case {
    const char* name;
    bool first_is_folder, second_is_unsafe;
    std::vector<std::wstring> stages;
  } cases[] = {
      {"40 files", false, false,
       {L"Unpacking the archive (1 of 40 files)", L"Unpacking the archive (17 of 40 files)",
        L"Unpacking the archive (33 of 40 files)"}},
      {"a folder first", true, false,
       {L"Unpacking the archive (17 of 40 files)", L"Unpacking the archive (33 of 40 files)"}},
      // The skipped record counts too: numbering stays with the central records.
      {"a folder first, an unsafe name at 17", true, true, {L"Unpacking the archive (33 of 40 files)"}},
  };
  for (const Case& c : cases) {
    std::vector<MadeEntry> entries;
    for (int i = 0; i < 40; i++) entries.push_back(stored_entry("f" + std::to_string(i) + ".txt", std::to_string(i)));
    if (c.first_is_folder) entries[0] = folder_entry("folder/");
    if (c.second_is_unsafe) entries[16] = stored_entry("../up.txt", "no");
    std::wstring folder = make_temp_folder(L"progress");
    ASSERT_TRUE(write_file(folder + L"\\a.zip", make_zip(entries).bytes));
    ASSERT_TRUE(extract(folder + L"\\a.zip", folder + L"\\dest", L"the archive", 0.2, 0.6)) << c.name;
    EXPECT_EQ(g_stages, c.stages) << c.name;
    EXPECT_DOUBLE_EQ(g_job.progress, 0.2 + 0.4 * 33 / 40) << c.name;
    EXPECT_EQ(read_file(folder + L"\\dest\\f39.txt"), "39");
    EXPECT_FALSE(exists(folder + L"\\up.txt"));
  }
}

TEST(ZipExtract, EntriesAsTheyAre) {
  // Empty stored and deflated files, a repeated name (the later wins), a CRC
  // the archive got wrong (never checked), and the DOS stamp as local time.
  MadeEntry empty_deflated = deflated_entry("empty.deflated", "");
  MadeEntry later = deflated_entry("dup.txt", "second");
  later.dos_date = (uint16_t)((1999 - 1980) << 9 | 12 << 5 | 31);
  later.dos_time = (uint16_t)(23 << 11 | 59 << 5 | 58 / 2);
  MadeZip zip = make_zip({stored_entry("empty.stored", ""), empty_deflated, stored_entry("dup.txt", "first"), later,
                          stored_entry("nested/deeper/file.txt", "no folder entries above me")});
  std::wstring folder = make_temp_folder(L"entries");
  std::wstring dest = folder + L"\\dest";
  // An old file in the way is replaced.
  CreateDirectoryW(dest.c_str(), NULL);
  ASSERT_TRUE(write_file(dest + L"\\dup.txt", "an older and longer file"));
  ASSERT_TRUE(write_file(folder + L"\\a.zip", zip.bytes));
  ASSERT_TRUE(extract(folder + L"\\a.zip", dest)) << narrow(error_text());
  EXPECT_EQ(read_file(dest + L"\\empty.stored"), "");
  EXPECT_EQ(read_file(dest + L"\\empty.deflated"), "");
  EXPECT_EQ(read_file(dest + L"\\dup.txt"), "second");
  EXPECT_EQ(read_file(dest + L"\\nested\\deeper\\file.txt"), "no folder entries above me");
  EXPECT_EQ(local_stamp(dest + L"\\dup.txt"), "1999 12 31 23 59 58");
  EXPECT_EQ(local_stamp(dest + L"\\empty.stored"), "2021 6 15 13 45 30");
}

}  // namespace

namespace {

// Stamps that name no real moment (month 0 or 13, day 0, 30 February, hour
// 24, minute 60, a seconds field of 62) and stamps at the ends of the DOS
// range: every entry is written whole, and a stamp that cannot be converted
// leaves the time of writing rather than some other moment.
TEST(ZipExtract, StampsOutOfRangeLeaveTheTimeOfWriting) {
  auto date = [](unsigned y, unsigned m, unsigned d) { return (uint16_t)((y - 1980) << 9 | m << 5 | d); };
  auto time = [](unsigned h, unsigned min, unsigned s2) { return (uint16_t)(h << 11 | min << 5 | s2); };
  const struct {
    const char* name;
    uint16_t dos_date, dos_time;
    const char* stamp;  // expected local stamp, or null: the time of writing
  } cases[] = {
      {"month0.txt", date(2020, 0, 10), time(10, 0, 0), nullptr},
      {"month13.txt", date(2020, 13, 10), time(10, 0, 0), nullptr},
      {"day0.txt", date(2020, 5, 0), time(10, 0, 0), nullptr},
      {"feb30.txt", date(2021, 2, 30), time(10, 0, 0), nullptr},
      {"hour24.txt", date(2020, 5, 10), time(24, 0, 0), nullptr},
      {"minute60.txt", date(2020, 5, 10), time(10, 60, 0), nullptr},
      {"second62.txt", date(2020, 5, 10), time(10, 0, 31), nullptr},
      {"all_zero.txt", 0, 0, nullptr},
      {"first.txt", date(1980, 1, 1), time(12, 0, 0), "1980 1 1 12 0 0"},
      {"last.txt", date(2107, 12, 31), time(23, 59, 29), "2107 12 31 23 59 58"},
      {"leap.txt", date(2024, 2, 29), time(6, 30, 5), "2024 2 29 6 30 10"},
  };
  std::vector<MadeEntry> entries;
  for (const auto& c : cases) {
    MadeEntry e = stored_entry(c.name, std::string("content of ") + c.name);
    e.dos_date = c.dos_date;
    e.dos_time = c.dos_time;
    entries.push_back(e);
  }
  std::wstring folder = make_temp_folder(L"stamps");
  std::wstring dest = folder + L"\\dest";
  ASSERT_TRUE(write_file(folder + L"\\a.zip", make_zip(entries).bytes));
  FILETIME before_utc;
  GetSystemTimeAsFileTime(&before_utc);
  ASSERT_TRUE(extract(folder + L"\\a.zip", dest)) << narrow(error_text());
  FILETIME after_utc;
  GetSystemTimeAsFileTime(&after_utc);
  for (const auto& c : cases) {
    std::wstring path = dest + L"\\" + widen(c.name);
    EXPECT_EQ(read_file(path), std::string("content of ") + c.name) << c.name;
    if (c.stamp) {
      EXPECT_EQ(local_stamp(path), c.stamp) << c.name;
      continue;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) << c.name;
    // File times may be rounded to the file system's step: allow 2 s either side.
    ULARGE_INTEGER written, low, high;
    written.LowPart = data.ftLastWriteTime.dwLowDateTime;
    written.HighPart = data.ftLastWriteTime.dwHighDateTime;
    low.LowPart = before_utc.dwLowDateTime;
    low.HighPart = before_utc.dwHighDateTime;
    high.LowPart = after_utc.dwLowDateTime;
    high.HighPart = after_utc.dwHighDateTime;
    const uint64_t slack = 2ull * 10000000ull;
    EXPECT_GE(written.QuadPart + slack, low.QuadPart) << c.name << ": " << local_stamp(path);
    EXPECT_LE(written.QuadPart, high.QuadPart + slack) << c.name << ": " << local_stamp(path);
  }
}

}  // namespace

namespace {

// Writes archive bytes into a fresh folder and unpacks them into its "dest".
struct Unpacked {
  std::wstring folder, dest;
  bool ok;
};
Unpacked unpack(const wchar_t* tag, const std::string& bytes) {
  Unpacked u;
  u.folder = make_temp_folder(tag);
  u.dest = u.folder + L"\\dest";
  EXPECT_TRUE(write_file(u.folder + L"\\a.zip", bytes));
  u.ok = extract(u.folder + L"\\a.zip", u.dest);
  return u;
}

// A few hundred kilobytes whose central records all point at one local
// header unpack to gigabytes: refused as damaged before anything is made.
TEST(ZipExtract, RecordsThatShareTheirDataAreRefusedBeforeWriting) {
  std::vector<MadeEntry> entries;
  for (int i = 0; i < 100; i++) {
    char name[16];
    snprintf(name, sizeof name, "bomb%02d", i);
    entries.push_back(stored_entry(name, std::string(65536, 'z')));
  }
  MadeZip zip = make_zip(entries);
  for (size_t i = 1; i < zip.central_offsets.size(); i++) put_le32(zip.bytes, zip.central_offsets[i] + 42, 0);
  Unpacked u = unpack(L"bomb", zip.bytes);
  EXPECT_FALSE(u.ok);
  EXPECT_EQ(error_text(), L"the archive is damaged.");
  EXPECT_FALSE(exists(u.dest)) << "something was made before the refusal";
}

// A stored entry's data are its contents: a larger size took in the bytes of
// the next entry's records, a smaller one cut the file.
TEST(ZipExtract, StoredEntryWhoseSizesDifferIsDamaged) {
  MadeZip zip = make_zip({stored_entry("a.txt", "AAAA"), stored_entry("b.txt", "BBBB")});
  for (uint32_t claimed : {zip.local_offsets[1] - 30 - 5 + 30 + 5 + 4, 2u}) {
    SCOPED_TRACE(claimed);
    std::string bytes = zip.bytes;
    put_le32(bytes, zip.central_offsets[0] + 24, claimed);
    Unpacked u = unpack(L"stored_sizes", bytes);
    EXPECT_FALSE(u.ok);
    EXPECT_EQ(error_text(), L"the archive is damaged.");
    EXPECT_FALSE(exists(u.dest + L"\\a.txt"));
  }
}

// Entries that add up to more than 8 GiB are refused before anything is
// written, the entries before them included.
TEST(ZipExtract, ArchivesOver8GiBInAllAreRefusedBeforeWriting) {
  std::vector<MadeEntry> entries = {stored_entry("first.txt", "not written")};
  for (int i = 0; i < 3; i++) {
    MadeEntry big = deflated_entry("big" + std::to_string(i), "x");
    big.uncompressed_size = 0xFFFFFFF0u;
    entries.push_back(big);
  }
  Unpacked u = unpack(L"over8", make_zip(entries).bytes);
  EXPECT_FALSE(u.ok);
  EXPECT_EQ(error_text(), L"the archive is too large: its files add up to 12288 MB, more than 8192 MB.");
  EXPECT_FALSE(exists(u.dest + L"\\first.txt"));
}

// A name in a text is decoded as the archive says and can carry no control
// character: telvar-cli prints the text on a terminal.
TEST(ZipExtract, NamesInTextsAreDecodedAndFreeOfControls) {
  const struct {
    const char* stored;
    bool utf8_flag;
    const wchar_t* shown;
  } cases[] = {
      {"\x1b[2J\x1b[31mbad.bin", false, L"?[2J?[31mbad.bin"},
      {"caf\x82.bin", false, L"caf\u00e9.bin"},
      {"caf\xc3\xa9.bin", true, L"caf\u00e9.bin"},
      {"dir/\xe2\x95\x94\x07.bin", true, L"dir/\u2554?.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    MadeEntry corrupt = deflated_entry(c.stored, "some text to deflate");
    corrupt.data[corrupt.data.size() / 2] ^= 0x55;
    MadeZip zip = make_zip({corrupt});
    if (c.utf8_flag) put_le16(zip.bytes, zip.central_offsets[0] + 8, 0x0800);
    Unpacked u = unpack(L"names", zip.bytes);
    EXPECT_FALSE(u.ok);
    EXPECT_EQ(error_text(), std::wstring(L"the archive is damaged (") + c.shown + L").");
  }
}

// An archive that a 32-bit process cannot hold says so, rather than that it
// could not be read. The files are sparse: nothing of them is read.
TEST(ZipExtract, ArchivesTooLargeForMemorySaySo) {
  const struct {
    long long size;
    const wchar_t* text;
  } cases[] = {
      {3ll << 30, L"Not enough memory to unpack the archive (3072 MB)."},
      {5ll << 30, L"the archive is too large to unpack (5120 MB)."},
  };
  for (const auto& c : cases) {
    // A 64-bit test build could hold 3 GB, and would read all of it.
    if (c.size < (4ll << 30) && sizeof(void*) > 4) continue;
    std::wstring folder = make_temp_folder(L"huge");
    std::wstring archive = folder + L"\\huge.zip";
    HANDLE f = CreateFileW(archive.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = c.size;
    bool sized = SetFilePointerEx(f, at, NULL, FILE_BEGIN) && SetEndOfFile(f);
    CloseHandle(f);
    if (!sized) {
      DeleteFileW(archive.c_str());
      GTEST_SKIP() << "no room for a sparse file of " << c.size << " bytes here";
    }
    EXPECT_FALSE(extract(archive, folder + L"\\dest"));
    EXPECT_EQ(error_text(), c.text);
    DeleteFileW(archive.c_str());
  }
}

// Wine maps the host's root to drive Z:.
std::wstring host_to_windows(const std::string& unix_path) {
  std::wstring out = L"Z:";
  for (char c : unix_path) out += c == '/' ? L'\\' : (wchar_t)c;
  return out;
}

// Host links (make_transfer_links.py) in a kit folder and as the toolchain
// folder: a file link where an entry is unpacked, a folder link the
// extraction would enter, a destination that is a link. Nothing is ever
// written into what they point to; where the platform cannot remove a link
// itself (Wine opens a host link only at its target), the extraction stops
// and says so.
TEST(ZipExtract, LinksInTheDestinationAreNeverWrittenThrough) {
  std::wstring links = host_to_windows(std::string(TELVAR_BINARY_DIR) + "/tests/transfer/links");
  if (!exists(links + L"\\kit\\readme.txt") || !exists(links + L"\\toolchain"))
    GTEST_SKIP() << "the host links are not there (made by the transfer_links fixture)";
  const struct {
    const char* name;
    std::vector<MadeEntry> entries;
    std::wstring destination;
    std::wstring link;  // the link the extraction meets
  } cases[] = {
      {"file link in the kit folder", {stored_entry("first.txt", "1"), stored_entry("readme.txt", "new")},
       links + L"\\kit", links + L"\\kit\\readme.txt"},
      {"folder link in the kit folder", {stored_entry("sub/x.txt", "new")}, links + L"\\kit", links + L"\\kit\\sub"},
      {"folder entry on a folder link", {folder_entry("sub/"), folder_entry("sub/deeper/")}, links + L"\\kit",
       links + L"\\kit\\sub"},
      {"toolchain folder that is a link", {stored_entry("python/python.exe", "new")}, links + L"\\toolchain",
       links + L"\\toolchain"},
  };
  std::map<std::wstring, std::string> outside_before = tree(links + L"\\outside");
  for (const auto& c : cases) {
    std::wstring folder = make_temp_folder(L"links");
    ASSERT_TRUE(write_file(folder + L"\\a.zip", make_zip(c.entries).bytes));
    bool ok = extract(folder + L"\\a.zip", c.destination);
    EXPECT_EQ(tree(links + L"\\outside"), outside_before) << c.name << ": written through a link";
    if (ok) {
      // The platform removed the link itself: a real file or folder stands there.
      EXPECT_FALSE(GetFileAttributesW(c.link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << c.name;
    } else {
      EXPECT_EQ(error_text(), c.link + L" is a link to another place and could not be removed. Remove it and try again.")
          << c.name;
    }
  }
  EXPECT_EQ(outside_before.at(L"readme.txt"), "keep readme");
}

}  // namespace

// extract_zip_file tells its own caller what failed and how far it got, in
// fractions of this extraction; the build job is not touched.
TEST(ZipExtract, TheResultNamesWhatFailedWithoutTheJob) {
  std::wstring folder = make_temp_folder(L"result");
  std::vector<MadeEntry> entries;
  for (int i = 0; i < 40; i++) entries.push_back(stored_entry("f" + std::to_string(i) + ".txt", "x"));
  ASSERT_TRUE(write_file(folder + L"\\a.zip", make_zip(entries).bytes));
  ASSERT_TRUE(write_file(folder + L"\\not.zip", "plain text"));
  reset_state();
  reset_job_status();

  struct Case {
    const char* what;
    std::wstring archive;
    bool cancel;
    TransferFailure failure;
    std::wstring detail;
  } cases[] = {
      {"missing archive", folder + L"\\none.zip", false, TRANSFER_CANNOT_OPEN, folder + L"\\none.zip"},
      {"not a zip", folder + L"\\not.zip", false, TRANSFER_NOT_ZIP, L""},
      {"cancelled", folder + L"\\a.zip", true, TRANSFER_CANCELLED, L""},
  };
  for (const Case& c : cases) {
    TransferListener listener;
    const TransferProgress* progress = listen_to_transfer(&listener, L"the part", c.cancel);
    TransferResult result;
    EXPECT_FALSE(extract_zip_file(c.archive.c_str(), (folder + L"\\dest").c_str(), progress, &result)) << c.what;
    EXPECT_EQ(result.failure, c.failure) << c.what;
    EXPECT_EQ(std::wstring(result.detail), c.detail) << c.what;
    EXPECT_TRUE(listener.stages.empty()) << c.what;
  }
  EXPECT_FALSE(exists(folder + L"\\dest\\f0.txt"));

  TransferListener listener;
  const TransferProgress* progress = listen_to_transfer(&listener, L"the part", false);
  TransferResult result;
  ASSERT_TRUE(extract_zip_file((folder + L"\\a.zip").c_str(), (folder + L"\\dest").c_str(), progress, &result));
  EXPECT_EQ(result.failure, TRANSFER_OK);
  EXPECT_EQ(listener.stages, (std::vector<std::wstring>{L"Unpacking the part (1 of 40 files)",
                                                        L"Unpacking the part (17 of 40 files)",
                                                        L"Unpacking the part (33 of 40 files)"}));
  EXPECT_EQ(listener.fractions, (std::vector<double>{1.0 / 40, 17.0 / 40, 33.0 / 40}));
  EXPECT_EQ(g_job.failed, 0);
  EXPECT_STREQ(g_job.stage_text, L"");
  EXPECT_EQ(read_file(folder + L"\\dest\\f39.txt"), "x");
}

namespace {

// Contents no two entries share, so that bytes landing in another entry's
// file show: a running counter seeded by the entry's number.
std::string distinct_bytes(int entry, size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 0x9E3779B9u * (uint32_t)(entry + 1);
  for (size_t i = 0; i < size; i++) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = (char)(x >> 24);
  }
  return bytes;
}

// The entries are decoded ahead of the writing, into one reused ring of
// 4 MiB and, for larger entries, blocks of their own: sizes that wrap the
// ring at every point (empty, one byte, exactly the ring, one past it), more
// entries than the steps handed over at a time, and stored entries between
// them must all come out whole, each in its own file.
TEST(ZipExtract, EntriesDecodedAheadComeOutWholeEachInItsFile) {
  const size_t MiB = 1 << 20;
  const size_t sizes[] = {300000, MiB + 5, 2 * MiB + 9, 0, 3 * MiB - 1, 4 * MiB, 4 * MiB + 1, 77, 1, 6 * MiB + 3};
  std::vector<MadeEntry> entries;
  std::vector<std::string> contents;
  for (int round = 0; round < 2; round++)
    for (size_t size : sizes) {
      int n = (int)entries.size();
      contents.push_back(distinct_bytes(n, size));
      std::string name = "big/" + std::to_string(n) + ".bin";
      entries.push_back(n % 7 == 3 ? stored_entry(name, contents.back()) : deflated_entry(name, contents.back()));
    }
  for (int i = 0; i < 150; i++) {
    int n = (int)entries.size();
    contents.push_back(distinct_bytes(n, 100 + i * 37));
    entries.push_back(deflated_entry("small/" + std::to_string(n) + ".txt", contents.back()));
  }
  std::wstring folder = make_temp_folder(L"ahead");
  ASSERT_TRUE(write_file(folder + L"\\a.zip", make_zip(entries).bytes));
  ASSERT_TRUE(extract(folder + L"\\a.zip", folder + L"\\dest")) << narrow(error_text());
  for (size_t n = 0; n < entries.size(); n++) {
    std::string got = read_file(folder + L"\\dest\\" + backslashes(widen(entries[n].name)));
    EXPECT_TRUE(got == contents[n]) << entries[n].name << ": " << got.size() << " bytes of " << contents[n].size();
  }
}

// However far the decoding ran ahead, the writing stops at the first entry
// that fails, with that entry's text: every entry before it is written and
// none after it, and a cancel stops it before the next entry.
TEST(ZipExtract, AFaultFarIntoTheArchiveStopsTheWritingThere) {
  const int BEFORE = 100;  // more entries than are handed over ahead of the writing
  MadeEntry corrupt = deflated_entry("at/fault.bin", distinct_bytes(7, 5000));
  corrupt.uncompressed_size += 1;  // the stream ends a byte short of the size
  MadeEntry lzma = stored_entry("at/fault.lzma", "....");
  lzma.method = 14;
  struct Case {
    const char* name;
    MadeEntry fault;
    const wchar_t* text;  // the job's error text; null: cancelled at the first progress report
  } cases[] = {
      {"deflate data short of the size", corrupt, L"the archive is damaged (at/fault.bin)."},
      {"an unknown method", lzma, L"the archive uses an unknown compression."},
      {"a name of 512 bytes", stored_entry(std::string(512, 'n'), "x"), L"the archive has a name too long."},
      {"a cancel", deflated_entry("at/fine.bin", "fine"), nullptr},
  };
  for (const Case& c : cases) {
    std::vector<MadeEntry> entries;
    for (int i = 0; i < BEFORE; i++) entries.push_back(deflated_entry("f" + std::to_string(i) + ".txt", distinct_bytes(i, 3000)));
    entries.push_back(c.fault);
    for (int i = BEFORE + 1; i < BEFORE + 40; i++) entries.push_back(deflated_entry("f" + std::to_string(i) + ".txt", "after"));
    std::wstring folder = make_temp_folder(L"fault");
    std::wstring dest = folder + L"\\dest";
    ASSERT_TRUE(write_file(folder + L"\\a.zip", make_zip(entries).bytes));
    int written = 0;
    if (c.text) {
      EXPECT_FALSE(extract(folder + L"\\a.zip", dest)) << c.name;
      EXPECT_EQ(narrow(error_text()), narrow(c.text)) << c.name;
      written = BEFORE;
    } else {
      // The listener asks to stop once it has heard of the first file.
      struct Stopper {
        TransferListener listener;
        static void heard(void* context, double fraction, const wchar_t* stage) {
          Stopper* s = (Stopper*)context;
          listener_hears(&s->listener, fraction, stage);
          s->listener.cancel = true;
        }
      } stopper;
      listen_to_transfer(&stopper.listener, L"the archive", false);
      TransferProgress progress = {Stopper::heard, listener_cancels, &stopper, L"the archive"};
      TransferResult result;
      EXPECT_FALSE(extract_zip_file((folder + L"\\a.zip").c_str(), dest.c_str(), &progress, &result));
      EXPECT_EQ(result.failure, TRANSFER_CANCELLED);
      EXPECT_EQ(stopper.listener.stages, std::vector<std::wstring>{L"Unpacking the archive (1 of 140 files)"});
      written = 1;
    }
    for (int i = 0; i < BEFORE + 40; i++) {
      std::wstring path = dest + L"\\f" + std::to_wstring(i) + L".txt";
      if (i < written)
        EXPECT_EQ(read_file(path), distinct_bytes(i, 3000)) << c.name << ": entry " << i;
      else
        EXPECT_FALSE(exists(path)) << c.name << ": entry " << i << " was written";
    }
    EXPECT_FALSE(exists(dest + L"\\at\\fine.bin")) << c.name;
  }
}

// The end record and the central directory are read before the rest, so
// that entries decode while it is read: a central directory longer than the
// 64 KiB at the archive's end where the end record is sought, and an
// archive comment filling those 64 KiB, must come out as any other.
TEST(ZipExtract, ArchivesWhoseRecordsReachPastTheirLast64KiBUnpack) {
  std::vector<MadeEntry> entries;
  for (int i = 0; i < 1500; i++) {
    std::string name = "names-long-enough-to-fill-the-central-directory/" + std::to_string(i) + ".txt";
    entries.push_back(i % 2 ? deflated_entry(name, distinct_bytes(i, 40 + i % 300)) : stored_entry(name, std::to_string(i)));
  }
  for (const std::string& comment : {std::string(), std::string(65535, 'c')}) {
    MadeZip zip = make_zip(entries, comment);
    ASSERT_GT(zip.bytes.size() - zip.central_offset, 65557u) << "the records must begin before the last 64 KiB";
    std::wstring folder = make_temp_folder(L"records");
    ASSERT_TRUE(write_file(folder + L"\\a.zip", zip.bytes));
    ASSERT_TRUE(extract(folder + L"\\a.zip", folder + L"\\dest")) << narrow(error_text());
    for (int i = 0; i < 1500; i += 7) {
      std::string expected = i % 2 ? distinct_bytes(i, 40 + i % 300) : std::to_string(i);
      EXPECT_EQ(read_file(folder + L"\\dest\\" + backslashes(widen(entries[i].name))), expected) << i;
    }
  }
}

}  // namespace
