// sha256_file: the published SHA-256 test vectors and files around the 1 MiB
// read size (whose digests Python's hashlib gave), and the files it must
// refuse without touching the caller's buffer.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <string.h>

#include <string>
#include <vector>

#include "transfer/sha256.h"

namespace {

// The download fixture's byte pattern: offset i holds (i * 7 + i / 65536) % 251.
std::string pattern(size_t length) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; i++) out[i] = (char)((i * 7 + i / 65536) % 251);
  return out;
}

class Sha256Test : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wchar_t folder[MAX_PATH];
    swprintf(folder, MAX_PATH, L"%lstelvar_sha256_%lu", temp, GetCurrentProcessId());
    folder_ = folder;
    CreateDirectoryW(folder_.c_str(), NULL);
  }
  void TearDown() override {
    for (const std::wstring& path : written_) DeleteFileW(path.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  std::wstring write(const wchar_t* name, const std::string& bytes) {
    std::wstring path = folder_ + L"\\" + name;
    FILE* f = _wfopen(path.c_str(), L"wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
      fclose(f);
    }
    written_.push_back(path);
    return path;
  }

  std::wstring folder_;
  std::vector<std::wstring> written_;
};

TEST_F(Sha256Test, DigestsMatchKnownAnswers) {
  const struct {
    const char* name;
    std::string bytes;
    const char* digest;
  } cases[] = {
      // FIPS 180-2 examples.
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"a million a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // hashlib.sha256 of the pattern: one read exactly, one byte into the
      // second read, and a short third read.
      {"1 MiB", pattern(1048576), "3cd04dcc985bcb8f70b68b13e2897c6e4d569c90939bcace15189aa07de107d7"},
      {"1 MiB + 1", pattern(1048577), "2320300752b41cf6804bee8fc3176fa57a47c001196565ac7874d245256b1769"},
      {"2 MiB + 12345", pattern(2 * 1048576 + 12345),
       "7919c2f380c400844a6d56c13e76a7d3b3b4ed63dde63a5e09997ab02ba30acb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring path = write(L"input.bin", c.bytes);
    char out[66];
    memset(out, 'X', sizeof out);
    ASSERT_TRUE(sha256_file(path.c_str(), out));
    EXPECT_EQ(out[64], 0);
    EXPECT_EQ(out[65], 'X') << "wrote past the 65 bytes";
    EXPECT_STREQ(out, c.digest);
  }
}

TEST_F(Sha256Test, NonAsciiFileNamesAreRead) {
  std::wstring path = write(L"r\u00e9sum\u00e9 \u30ad\u30c3\u30c8.zip", "abc");
  char out[65];
  ASSERT_TRUE(sha256_file(path.c_str(), out));
  EXPECT_STREQ(out, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// False, and the caller's buffer as it was.
TEST_F(Sha256Test, UnreadableFilesGiveFalseAndLeaveTheBuffer) {
  std::wstring locked = write(L"locked.zip", "abc");
  // Held with no sharing, as a download in progress holds its file.
  HANDLE holder = CreateFileW(locked.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const std::wstring paths[] = {folder_ + L"\\absent.zip", folder_, locked, L""};
  for (const std::wstring& path : paths) {
    SCOPED_TRACE(testing::PrintToString(path));
    char out[65];
    memset(out, 'X', sizeof out);
    EXPECT_FALSE(sha256_file(path.c_str(), out));
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, 'X'));
  }
  CloseHandle(holder);
}

// A pipe whose writer hangs up after some bytes stands in for a file whose
// read fails halfway (a dropped share, a bad sector): the digest of the part
// read so far must not be handed out as the file's.
DWORD WINAPI write_then_hang_up(void* pipe) {
  if (ConnectNamedPipe(pipe, NULL) || GetLastError() == ERROR_PIPE_CONNECTED) {
    DWORD written = 0;
    WriteFile(pipe, "abc", 3, &written, NULL);
    Sleep(200);
    DisconnectNamedPipe(pipe);
  }
  return 0;
}

TEST_F(Sha256Test, ReadFailingHalfwayGivesFalse) {
  wchar_t name[64];
  swprintf(name, 64, L"\\\\.\\pipe\\telvar_sha256_%lu", GetCurrentProcessId());
  HANDLE pipe = CreateNamedPipeW(name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, NULL);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  HANDLE writer = CreateThread(NULL, 0, write_then_hang_up, pipe, 0, NULL);
  ASSERT_NE(writer, nullptr);
  char out[65];
  memset(out, 'X', sizeof out);
  bool ok = sha256_file(name, out);
  WaitForSingleObject(writer, INFINITE);
  CloseHandle(writer);
  CloseHandle(pipe);
  EXPECT_FALSE(ok);
  EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, 'X'));
}

}  // namespace
