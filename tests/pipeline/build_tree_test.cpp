// Creating and deleting in the build tree, and the three clean-ups.
#include <gtest/gtest.h>

#include "core/state.h"
#include "pipeline/build_test_support.h"
#include "pipeline/build_tree.h"

namespace {

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

void make_files(const std::wstring& root, const std::vector<std::wstring>& relative) {
  for (const std::wstring& r : relative) {
    std::wstring path = join(root, r);
    create_directory_chain(path.substr(0, path.rfind(L'\\')).c_str());
    ASSERT_TRUE(write_file_w(path, "x")) << std::string(r.begin(), r.end());
  }
}

TEST(CreateDirectoryChain, CreatesEveryMissingFolder) {
  std::wstring root = fresh_work_folder("chain");
  std::wstring deep = join(root, L"a\\b/c\\d");
  create_directory_chain(deep.c_str());
  EXPECT_TRUE(exists(join(root, L"a\\b\\c\\d")));
  // Again, all present: nothing fails, nothing changes.
  create_directory_chain(deep.c_str());
  EXPECT_TRUE(exists(join(root, L"a\\b\\c\\d")));
  // A trailing separator still creates the last folder.
  create_directory_chain(join(root, L"e\\f\\").c_str());
  EXPECT_TRUE(exists(join(root, L"e\\f")));
  // A component that is a file stops the chain there, silently.
  write_file_w(join(root, L"file"), "x");
  create_directory_chain(join(root, L"file\\sub").c_str());
  EXPECT_FALSE(exists(join(root, L"file\\sub")));
}

TEST(DeleteTree, RemovesFilesAndFoldersWhateverTheirAttributes) {
  std::wstring root = fresh_work_folder("delete_tree");
  delete_tree(join(root, L"missing").c_str());  // nothing there: nothing happens

  std::wstring lone = join(root, L"lone.txt");
  write_file_w(lone, "x");
  SetFileAttributesW(lone.c_str(), FILE_ATTRIBUTE_READONLY);
  delete_tree(lone.c_str());
  EXPECT_FALSE(exists(lone));

  std::wstring tree = join(root, L"tree");
  make_files(tree, {L"a.txt", L"sub\\b.txt", L"sub\\deeper\\c.txt", L"sub\\deeper\\deepest\\d.txt"});
  create_directory_chain(join(tree, L"empty\\folder").c_str());
  SetFileAttributesW(join(tree, L"sub\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(join(tree, L"sub\\deeper\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  write_file_w(join(root, L"beside.txt"), "stays");
  delete_tree(tree.c_str());
  EXPECT_FALSE(exists(tree));
  EXPECT_TRUE(exists(join(root, L"beside.txt")));
}

TEST(DeleteTree, PathsOfUpTo259UnitsGoLongerOnesStay) {
  std::wstring root = fresh_work_folder("delete_cut");
  std::wstring tree = join(root, L"t");
  std::wstring sub = join(tree, L"s");
  create_directory_chain(sub.c_str());
  // A name that makes exactly 259 units is deleted like any other.
  std::wstring fitting = join(sub, std::wstring(PATH_UNITS - 1 - sub.size() - 1, L'f'));
  ASSERT_EQ(fitting.size(), (size_t)PATH_UNITS - 1);
  ASSERT_TRUE(write_file_w(fitting, "x"));
  delete_tree(tree.c_str());
  EXPECT_FALSE(exists(tree));

  // One unit longer can only be made through the long-path prefix; the
  // deletion cannot name it whole, so it stays, with its folders, and the
  // deletion still ends.
  create_directory_chain(sub.c_str());
  write_file_w(join(sub, L"short.txt"), "x");
  std::wstring prefixed = L"\\\\?\\" + fitting + L"g";
  HANDLE file = CreateFileW(prefixed.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this platform cannot make a path over 259 units";
  CloseHandle(file);
  delete_tree(tree.c_str());
  EXPECT_FALSE(exists(join(sub, L"short.txt")));
  EXPECT_NE(GetFileAttributesW(prefixed.c_str()), INVALID_FILE_ATTRIBUTES) << "the long file stays";
  EXPECT_TRUE(exists(sub));
  DeleteFileW(prefixed.c_str());
}

TEST(DeleteTree, RemovesAFolderLinkWithoutEnteringIt) {
  std::wstring root = fresh_work_folder("delete_link");
  std::wstring outside = join(root, L"outside");
  make_files(outside, {L"precious.txt", L"inner\\also.txt"});
  std::wstring tree = join(root, L"tree");
  create_directory_chain(tree.c_str());
  std::wstring link = join(tree, L"link");
  if (!CreateSymbolicLinkW(link.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
      !(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "folder links are not available here";
  delete_tree(tree.c_str());
  EXPECT_FALSE(exists(tree));
  EXPECT_TRUE(exists(join(outside, L"precious.txt")));
  EXPECT_TRUE(exists(join(outside, L"inner\\also.txt")));
}

// Links the host made (make_links.py): Wine shows a host link to a folder as
// a folder link and a link to a file as a plain file, and removing either by
// its name reaches the target. Whatever the platform can do with a link, the
// deletion must never change anything outside the tree it was given.
TEST(DeleteTree, NeverReachesThroughHostLinks) {
  std::wstring root = host_to_windows(std::string(TELVAR_BINARY_DIR) + "/tests/pipeline/links");
  std::wstring outside = join(root, L"outside"), tree = join(root, L"tree");
  if (!exists(join(tree, L"file_link.txt")) || !exists(join(root, L"top_file_link.txt")))
    GTEST_SKIP() << "the host links are not there (made by the build_links fixture)";
  ASSERT_EQ(read_file_w(join(tree, L"file_link.txt")), "keep") << "the link shows its target";

  delete_tree(tree.c_str());
  delete_tree(join(root, L"top_file_link.txt").c_str());
  delete_tree(join(root, L"top_folder_link").c_str());

  EXPECT_FALSE(exists(join(tree, L"sub\\plain.txt"))) << "what is really in the tree goes";
  for (const wchar_t* kept : {L"precious.txt", L"read_only.txt", L"top.txt", L"inner\\also.txt", L"empty",
                              L"empty_read_only", L"empty_top"})
    EXPECT_TRUE(exists(join(outside, kept))) << narrow(kept);
  EXPECT_EQ(read_file_w(join(outside, L"precious.txt")), "keep");
  DWORD attributes = GetFileAttributesW(join(outside, L"read_only.txt").c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      << "the target's attributes are not touched";
}

const std::vector<std::wstring> STALE = {
    L"build\\windows\\gen\\a.c",    L"build\\windows\\gen.new\\a.c",    L"build\\windows\\obj\\a.o",
    L"build\\windows_us\\gen\\a.c", L"build\\windows_us\\gen.new\\a.c", L"build\\windows_us\\obj\\a.o",
    L"zig-cache\\h\\x",
};
const std::vector<std::wstring> KEPT = {
    L"build\\windows\\mox1_wrapper.exe", L"build\\windows_us\\mox1_wrapper.exe", L"build.py",
};

TEST(ClearStaleOutput, DeletesBothRegionsOnlyWhenTheStoredVersionDiffers) {
  struct Case {
    const char* name;
    const char* stored;  // null: no stamp
    bool cleared;
  } cases[] = {
      {"first job", nullptr, false},
      {"same version", "v1", false},
      {"new version", "v0", true},
      {"versions differ only in case", "V1", true},
  };
  for (const Case& c : cases) {
    std::wstring kit = fresh_work_folder(std::string("stale_") + c.name);
    reset_state();
    join_path(g_state.settings_path, kit.c_str(), L"telvar.ini");
    if (c.stored) {
      std::wstring stored(c.stored, c.stored + strlen(c.stored));
      WritePrivateProfileStringW(L"mox1", L"kit_version", stored.c_str(), g_state.settings_path);
    }
    make_files(kit, STALE);
    make_files(kit, KEPT);
    clear_stale_output(kit.c_str(), L"mox1", L"v1");
    for (const std::wstring& path : STALE) {
      std::wstring folder = join(kit, path.substr(0, path.rfind(L'\\')));
      EXPECT_EQ(exists(folder), !c.cleared) << c.name << ": " << std::string(path.begin(), path.end());
    }
    for (const std::wstring& path : KEPT) EXPECT_TRUE(exists(join(kit, path))) << c.name;
    EXPECT_EQ(profile(L"mox1", L"kit_version"), L"v1") << c.name;
  }
}

TEST(ClearKitFolder, KeepsOnlyTheBuildFolder) {
  std::wstring kit = fresh_work_folder("clear_kit");
  make_files(kit, {L"Build\\windows\\mox1_wrapper.exe", L"build_log.txt", L"build.py", L"tools\\x\\y.py",
                   L"data\\levels.txt"});
  SetFileAttributesW(join(kit, L"build.py").c_str(), FILE_ATTRIBUTE_READONLY);
  clear_kit_folder(kit.c_str());
  EXPECT_EQ(list_folder(kit), std::vector<std::wstring>{L"Build"});
  EXPECT_TRUE(exists(join(kit, L"Build\\windows\\mox1_wrapper.exe")));
  clear_kit_folder(join(kit, L"missing").c_str());  // passes silently
}

TEST(ClearIntermediateOutput, LeavesTheGameAndTheOtherRegion) {
  const std::vector<std::wstring> game = {L"mox1_wrapper.exe", L"mox1_game.dll", L"data\\x.bin"};
  const std::vector<std::wstring> intermediate = {L"gen\\a",           L"gen.new\\a",        L"obj\\a", L"region\\a",
                                                  L"mox1_game.pdb",    L"mox1_wrapper.pdb", L"asm_stubs.c.lib"};
  struct Case {
    const wchar_t* region;
    const wchar_t* output;
    const wchar_t* other;
  } cases[] = {
      {L"pal", L"build\\windows", L"build\\windows_us"},
      {L"us", L"build\\windows_us", L"build\\windows"},
  };
  for (const Case& c : cases) {
    std::wstring kit = fresh_work_folder("intermediate");
    for (const std::wstring& f : game) make_files(kit, {join(c.output, f), join(c.other, f)});
    for (const std::wstring& f : intermediate) make_files(kit, {join(c.output, f), join(c.other, f)});
    make_files(kit, {L"build\\levels\\l0", L"build\\levels_us\\l0", L"build\\disc\\SYSTEM.CNF", L"zig-cache\\c",
                     L"build.py"});
    clear_intermediate_output(kit.c_str(), c.region);
    for (const std::wstring& f : game) {
      EXPECT_TRUE(exists(join(kit, join(c.output, f))));
      EXPECT_TRUE(exists(join(kit, join(c.other, f))));
    }
    for (const std::wstring& f : intermediate) {
      std::wstring top = f.substr(0, f.find(L'\\'));
      EXPECT_FALSE(exists(join(kit, join(c.output, top)))) << std::string(top.begin(), top.end());
      EXPECT_TRUE(exists(join(kit, join(c.other, f)))) << "the other region keeps its own";
    }
    for (const wchar_t* gone : {L"build\\levels", L"build\\levels_us", L"build\\disc", L"zig-cache"})
      EXPECT_FALSE(exists(join(kit, gone)));
    EXPECT_TRUE(exists(join(kit, L"build.py")));
  }
}

}  // namespace
