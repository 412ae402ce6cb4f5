// Opening images, identifying discs and adding them to the library, on real
// files under Wine. The byte-level scans have their own tests; this covers
// what the file layer adds: opening, short reads, size limits and paths.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

#include "core/state.h"
#include "library/catalog.h"
#include "library/disc_identify.h"
#include "library/iso_image.h"
#include "library/md5.h"
#include "support/iso_builder.h"
#include "support/temp_folder.h"

class DiscTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_state();
    folder = make_temp_folder(L"disc");
  }
  std::wstring image(const wchar_t* name, const std::string& bytes) {
    std::wstring path = join(folder, name);
    EXPECT_TRUE(write_bytes(path, bytes));
    return path;
  }
  LibraryEntry identify(const std::wstring& path) {
    LibraryEntry entry = {};
    wcscpy(entry.path, path.c_str());
    identify_disc(&entry);
    return entry;
  }
  std::wstring folder;
};

TEST_F(DiscTest, OpenOutcomes) {
  std::string good = build_disc("SXPE_100.01", "boot");
  IsoLayout empty_root;
  empty_root.root_size_override = 0;
  IsoLayout past_the_end;
  past_the_end.root_size_override = 1 << 20;  // longer than the file: a short read
  // A raw image of 2352-byte sectors has no "CD001" at byte 32769.
  std::string raw;
  for (size_t at = 0; at < good.size(); at += 2048)
    raw += std::string(16, '\xff') + good.substr(at, 2048) + std::string(288, '\0');

  const struct {
    const wchar_t* name;
    std::string bytes;
    IsoOpenResult result;
  } cases[] = {
      {L"good.iso", good, ISO_OPENED},
      {L"short.iso", good.substr(0, 34815), ISO_NOT_AN_IMAGE},
      // The descriptor is whole, but the root directory lies past the end.
      {L"no_root.iso", good.substr(0, 34816), ISO_NOT_AN_IMAGE},
      {L"raw.iso", raw, ISO_NOT_AN_IMAGE},
      {L"empty_root.iso", build_iso(empty_root), ISO_OPENED},
      {L"root_past_end.iso", build_iso(past_the_end), ISO_NOT_AN_IMAGE},
  };
  for (const auto& c : cases) {
    IsoImage iso;
    IsoOpenResult result = iso_open(image(c.name, c.bytes).c_str(), &iso);
    EXPECT_EQ(result, c.result) << testing::PrintToString(std::wstring(c.name));
    if (result == ISO_OPENED) iso_close(&iso);
  }

  IsoImage iso;
  EXPECT_EQ(iso_open(join(folder, L"missing.iso").c_str(), &iso), ISO_CANNOT_OPEN);
  EXPECT_EQ(iso_open(folder.c_str(), &iso), ISO_CANNOT_OPEN);

  // A root of length 0 opens, and nothing is found in it.
  ASSERT_EQ(iso_open(join(folder, L"empty_root.iso").c_str(), &iso), ISO_OPENED);
  IsoFileRecord record;
  EXPECT_FALSE(find_root_file(&iso, "SYSTEM.CNF", 10, &record));
  iso_close(&iso);
}

TEST_F(DiscTest, ImageOpenForWritingElsewhereIsNotFound) {
  std::wstring path = image(L"locked.iso", build_disc("SXPE_100.01", reference_boot_file("SXPE_100.01")));
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(identify(path).status, DISC_NOT_FOUND);
  CloseHandle(writer);
  EXPECT_EQ(identify(path).status, DISC_OK);
}

TEST_F(DiscTest, SystemCnfSizeLimit) {
  // 4,095 bytes are read whole; 4,096 are not read at all.
  for (size_t size : {4095u, 4096u}) {
    std::string cnf = system_cnf("SXUS_100.02");
    cnf.resize(size, ' ');
    IsoLayout layout;
    layout.root.push_back({IsoItem::FILE, "SYSTEM.CNF;1", cnf});
    layout.root.push_back({IsoItem::FILE, "SXUS_100.02;1", reference_boot_file("SXUS_100.02")});
    LibraryEntry entry = identify(image(L"cnf.iso", build_iso(layout)));
    if (size == 4095) {
      EXPECT_EQ(entry.status, DISC_OK);
      EXPECT_STREQ(entry.serial, "SXUS_100.02");
    } else {
      EXPECT_EQ(entry.status, DISC_UNKNOWN);
      EXPECT_STREQ(entry.serial, "");
    }
  }
}

TEST_F(DiscTest, ABootFileThatRunsPastTheImageEndIsNotHashed) {
  // A cut download: the boot file's record promises more than the image
  // holds. The part that is there must not be hashed as if it were the file.
  std::string boot(3 * 1048576 + 100, 'b');
  std::string whole = build_disc("SXPE_100.01", boot);
  const struct {
    const wchar_t* name;
    size_t cut;  // bytes taken off the end
  } cases[] = {
      // The image ends with the boot file's last sector: 100 bytes of it and
      // 1,948 of padding. Cut into those 100 bytes: the last, short read fails.
      {L"cut_in_last_chunk.iso", 2048 - 100 + 50},
      {L"cut_after_first_chunk.iso", 2 * 1048576},  // the first megabyte reads, the next does not
      {L"cut_before_boot.iso", boot.size() + 10},   // not one byte of the boot file is there
  };
  for (const auto& c : cases) {
    LibraryEntry entry = identify(image(c.name, whole.substr(0, whole.size() - c.cut)));
    EXPECT_EQ(entry.status, DISC_OTHER_REVISION) << testing::PrintToString(std::wstring(c.name));
    EXPECT_EQ(entry.catalog_row, 0);
    EXPECT_STREQ(entry.serial, "SXPE_100.01");
    EXPECT_STREQ(entry.md5, "") << testing::PrintToString(std::wstring(c.name));
  }
}

TEST_F(DiscTest, ABootFileOfSeveralMegabytesIsHashedWhole) {
  // The boot file is read a megabyte at a time by a second thread while the
  // one before is hashed: sizes that end on, just after and between the
  // megabyte boundaries must give the digest of the whole file.
  const size_t sizes[] = {1048576, 1048576 + 1, 2 * 1048576, 3 * 1048576 + 100};
  for (size_t size : sizes) {
    std::string boot(size, '\0');
    for (size_t i = 0; i < size; i++) boot[i] = (char)(i * 7 + (i >> 11));
    LibraryEntry entry = identify(image(L"big.iso", build_disc("SXPE_100.01", boot)));
    char expected[33];
    md5_hex(boot.data(), boot.size(), expected);
    EXPECT_EQ(entry.status, DISC_OTHER_REVISION) << size;
    EXPECT_STREQ(entry.md5, expected) << size;
  }
}

TEST_F(DiscTest, IdentifyClearsWhatAnEarlierRunFound) {
  std::wstring path = image(L"a.iso", build_disc("SXPE_100.01", reference_boot_file("SXPE_100.01")));
  LibraryEntry entry = identify(path);
  ASSERT_EQ(entry.status, DISC_OK);
  DeleteFileW(path.c_str());
  identify_disc(&entry);
  EXPECT_EQ(entry.status, DISC_NOT_FOUND);
  EXPECT_EQ(entry.catalog_row, -1);
  EXPECT_STREQ(entry.serial, "");
  EXPECT_STREQ(entry.md5, "");
}

TEST_F(DiscTest, AddDiscPathsAndSelection) {
  std::wstring a = image(L"a.iso", build_disc("SXPE_100.01", reference_boot_file("SXPE_100.01")));
  add_disc(a.c_str(), false);
  ASSERT_EQ(g_state.entry_count, 1);
  EXPECT_EQ(g_state.selected, -1);
  EXPECT_EQ(g_state.entries[0].status, DISC_OK);

  // The same file in other letter case adds nothing; with select it becomes the selection.
  std::wstring upper = a;
  for (wchar_t& c : upper) c = towupper(c);
  add_disc(upper.c_str(), false);
  EXPECT_EQ(g_state.entry_count, 1);
  add_disc(L"missing.iso", true);  // relative: stored as its full path, added although missing
  ASSERT_EQ(g_state.entry_count, 2);
  EXPECT_EQ(g_state.selected, 1);
  EXPECT_EQ(g_state.entries[1].status, DISC_NOT_FOUND);
  wchar_t full[MAX_PATH];
  GetFullPathNameW(L"missing.iso", MAX_PATH, full, NULL);
  EXPECT_STREQ(g_state.entries[1].path, full);
  add_disc(upper.c_str(), true);
  EXPECT_EQ(g_state.selected, 0);
}

TEST_F(DiscTest, AddDiscRefusesWhatDoesNotFit) {
  // A full path longer than 259 units is refused rather than cut.
  std::wstring longer = folder + L"\\" + std::wstring(300 - folder.size(), L'x') + L".iso";
  add_disc(longer.c_str(), true);
  EXPECT_EQ(g_state.entry_count, 0);
  EXPECT_EQ(g_state.selected, -1);

  for (int i = 0; i < LIBRARY_CAPACITY + 1; i++)
    add_disc((folder + L"\\disc" + std::to_wstring(i) + L".iso").c_str(), false);
  EXPECT_EQ(g_state.entry_count, LIBRARY_CAPACITY);
  EXPECT_EQ(std::wstring(g_state.entries[63].path), folder + L"\\disc63.iso");
}

TEST_F(DiscTest, GameFolderAndFiles) {
  wcscpy(g_state.launcher_dir, folder.c_str());
  auto folder_of = [](int row) {
    wchar_t out[PATH_UNITS];
    game_folder(row, out);
    return std::wstring(out);
  };
  std::wstring pal = folder + L"\\games\\mox1\\build\\windows";
  std::wstring us = folder + L"\\games\\mox1\\build\\windows_us";
  EXPECT_EQ(folder_of(0), pal);  // where the build will put it
  EXPECT_EQ(folder_of(1), us);
  EXPECT_FALSE(game_files_present(0));
  EXPECT_FALSE(game_files_present(2));  // no wrapper: never present
  EXPECT_FALSE(game_files_present(-1));

  std::wstring plain = folder + L"\\build\\windows";
  CreateDirectoryW((folder + L"\\build").c_str(), NULL);
  CreateDirectoryW(plain.c_str(), NULL);
  write_bytes(plain + L"\\mox1_wrapper.exe", "exe");
  EXPECT_EQ(folder_of(1), plain);
  EXPECT_FALSE(game_files_present(1));  // the wrapper alone is not enough
  write_bytes(plain + L"\\mox1_game.dll.manifest", "m");
  EXPECT_TRUE(game_files_present(1));

  // The launcher placed in the game's own folder wins over everything.
  write_bytes(folder + L"\\mox1_wrapper.exe", "exe");
  EXPECT_EQ(folder_of(0), folder);
  EXPECT_FALSE(game_files_present(0));
  write_bytes(folder + L"\\mox1_game.dll", "dll");
  EXPECT_TRUE(game_files_present(0));
}
