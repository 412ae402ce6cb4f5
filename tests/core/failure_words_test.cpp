// Failures in words: the sentences by value for the codes the launcher meets,
// the fallbacks for codes the tables do not know, one way of writing each kind
// of code, and cuts at the buffer's end.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/failure_words.h"

namespace {

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct Sentence {
  uint32_t code;
  const wchar_t* expected;
};

template <size_t N>
void check(void (*describe)(wchar_t*, size_t, const wchar_t*, uint32_t), const wchar_t* subject,
           const Sentence (&cases)[N]) {
  for (const Sentence& c : cases) {
    SCOPED_TRACE(c.code);
    wchar_t out[512];
    describe(out, 512, subject, c.code);
    EXPECT_EQ(std::wstring(out), c.expected) << narrow(out);
  }
}

TEST(FailureWords, DownloadFailuresSayWhatHappenedAndWhatToTry) {
  const Sentence cases[] = {
      {12007, L"Could not download the build description: the server's name could not be found (Windows error "
              L"12007). Check your internet connection and the release address."},
      {12029, L"Could not download the build description: no connection to the server could be made (Windows "
              L"error 12029). Check your internet connection; a firewall may be blocking the launcher."},
      {12002, L"Could not download the build description: the server did not answer in time (Windows error 12002). "
              L"Try again; if it keeps happening, check your connection or proxy."},
      {12175, L"Could not download the build description: the secure connection failed (Windows error 12175). "
              L"Check the computer's date and time; security software that inspects web traffic can cause this "
              L"too."},
      {12157, L"Could not download the build description: the secure connection failed (Windows error 12157). "
              L"Check the computer's date and time; security software that inspects web traffic can cause this "
              L"too."},
      {12044, L"Could not download the build description: the server asked for a client certificate (Windows "
              L"error 12044). Check the release address."},
      {12180, L"Could not download the build description: the proxy could not be found automatically (Windows "
              L"error 12180). Check the proxy settings of Windows (Settings, Network, Proxy)."},
      {12166, L"Could not download the build description: the proxy configuration script has an error (Windows "
              L"error 12166). Check the proxy settings of Windows (Settings, Network, Proxy)."},
      // Not in the table: the plain sentence, the code written the same way.
      {12345, L"Could not download the build description (Windows error 12345). Check your internet connection."},
      {0, L"Could not download the build description (Windows error 0). Check your internet connection."},
  };
  check(describe_download_failure, L"the build description", cases);
}

TEST(FailureWords, AStoppedDownloadSaysWhyOrAsksToTryAgain) {
  const Sentence cases[] = {
      {12030, L"The download of Downloading the build tools stopped: the connection to the server was broken "
              L"(Windows error 12030). Try again."},
      {12002, L"The download of Downloading the build tools stopped: the server did not answer in time (Windows "
              L"error 12002). Try again; if it keeps happening, check your connection or proxy."},
      {4294967295u, L"The download of Downloading the build tools stopped (Windows error 4294967295). Try again."},
  };
  check(describe_download_stopped, L"Downloading the build tools", cases);
}

TEST(FailureWords, StartFailuresNameTheProgramTheCauseAndTheRemedy) {
  const Sentence cases[] = {
      {5, L"Could not start the build tools: Windows refused access to the program (Windows error 5). Antivirus "
          L"software may be holding it: check its quarantine, or move the launcher to a folder of your own such "
          L"as C:\\Games\\Telvar."},
      {225, L"Could not start the build tools: antivirus software blocked the program (Windows error 225). Allow it "
            L"in your antivirus software, or add the launcher's folder as an exception, then try again."},
      {1260, L"Could not start the build tools: a policy of this computer blocks the program (Windows error 1260). "
             L"Ask the computer's administrator, or move the launcher to a folder the policy allows."},
      {2, L"Could not start the build tools: the program file is missing (Windows error 2). Build again, and check "
          L"whether your antivirus software removed a file."},
      {3, L"Could not start the build tools: the program's folder is missing (Windows error 3). Build again, and "
          L"check whether your antivirus software removed a file."},
      {193, L"Could not start the build tools: the file is not a valid Windows program (Windows error 193). It is "
            L"damaged or incomplete; build again."},
      {216, L"Could not start the build tools: the program is made for another kind of processor or Windows "
            L"(Windows error 216). Build again; check that the release supports this computer."},
      {87, L"Could not start the build tools (Windows error 87)."},
  };
  check(describe_start_failure, L"the build tools", cases);
}

TEST(FailureWords, GameExitsInWordsWithStatusCodesInHexAndOwnCodesInDecimal) {
  const Sentence cases[] = {
      {0xC0000005u, L"The game closed: it touched memory it may not use (a crash) (0xC0000005). Open log shows what "
                    L"happened; please add it to a bug report."},
      {0xC0000135u, L"The game closed: a library (DLL) it needs is missing (0xC0000135). Build again, and check "
                    L"whether your antivirus software removed a file."},
      {0xC0000139u, L"The game closed: a library (DLL) does not match it (missing entry point) (0xC0000139). Build "
                    L"again, and install the latest Windows updates."},
      {0xC0000142u, L"The game closed: a library (DLL) failed to start (0xC0000142). Restart Windows and try again; "
                    L"update your graphics driver."},
      {0xC000007Bu, L"The game closed: a 32-bit and a 64-bit file were mixed (bad image format) (0xC000007B). Build "
                    L"again, and check whether your antivirus software removed a file."},
      {0xC00000FDu, L"The game closed: it ran out of stack space (stack overflow) (0xC00000FD). Open log shows what "
                    L"happened; please add it to a bug report."},
      {0xC0000409u, L"The game closed: it stopped itself after a memory fault (stack buffer overrun) (0xC0000409). "
                    L"Open log shows what happened; please add it to a bug report."},
      {0xC0000374u, L"The game closed: its memory was damaged (heap corruption) (0xC0000374). Open log shows what "
                    L"happened; please add it to a bug report."},
      {0xC000013Au, L"The game closed: it was ended with Ctrl+C or its console window was closed (0xC000013A). "
                    L"Nothing is wrong if you closed it yourself."},
      // A status code not in the table keeps the plain sentence, in hex.
      {0xC0001234u, L"The game closed with an error (0xC0001234). Open log shows what happened."},
      // The game's own codes are decimal and said to be exit codes; 5 is no
      // Windows error here, whatever the start table says of it.
      {1, L"The game closed with exit code 1. Open log shows what happened."},
      {5, L"The game closed with exit code 5. Open log shows what happened."},
      {0x7FFFFFFFu, L"The game closed with exit code 2147483647. Open log shows what happened."},
  };
  for (const Sentence& c : cases) {
    SCOPED_TRACE(c.code);
    wchar_t out[256];  // the status line's size: every sentence fits it whole
    describe_game_exit(out, 256, c.code);
    EXPECT_EQ(std::wstring(out), c.expected) << narrow(out);
  }
}

TEST(FailureWords, ScriptExitsSayExitCodeInDecimalAndCrashesInHex) {
  struct Case {
    uint32_t code;
    const wchar_t* expected;
  } cases[] = {
      {3, L"The build script ended with exit code 3: error: level 4 failed"},
      {4294967295u, L"The build tools crashed (0xFFFFFFFF): error: level 4 failed"},
      {0xC0000005u, L"The build tools crashed: it touched memory it may not use (a crash) (0xC0000005): error: level "
                    L"4 failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    wchar_t out[512];
    describe_script_exit(out, 512, c.code, L"error: level 4 failed");
    EXPECT_EQ(std::wstring(out), c.expected) << narrow(out);
  }
}

TEST(FailureWords, CodesAreWrittenOneWayPerKind) {
  struct Case {
    uint32_t code;
    const wchar_t* windows_error;
    const wchar_t* exit_code;
  } cases[] = {
      {0, L"Windows error 0", L"exit code 0"},
      {3, L"Windows error 3", L"exit code 3"},
      {12029, L"Windows error 12029", L"exit code 12029"},
      {0x7FFFFFFFu, L"Windows error 2147483647", L"exit code 2147483647"},
      {0x80000003u, L"Windows error 2147483651", L"0x80000003"},
      {0xC0000005u, L"Windows error 3221225477", L"0xC0000005"},
      {0xC000000Au, L"Windows error 3221225482", L"0xC000000A"},  // eight digits, upper case
      {0xFFFFFFFFu, L"Windows error 4294967295", L"0xFFFFFFFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    wchar_t out[64];
    format_windows_error(out, 64, c.code);
    EXPECT_EQ(std::wstring(out), c.windows_error);
    format_exit_code(out, 64, c.code);
    EXPECT_EQ(std::wstring(out), c.exit_code);
  }
}

TEST(FailureWords, EveryRowSpeaksPlainlyAndEachCodeIsListedOnce) {
  struct Table {
    const char* name;
    const CodeWords* rows;
    size_t count;
  } tables[] = {
      {"network", NETWORK_ERROR_WORDS, NETWORK_ERROR_WORD_COUNT},
      {"start", START_ERROR_WORDS, START_ERROR_WORD_COUNT},
      {"exit", EXIT_STATUS_WORDS, EXIT_STATUS_WORD_COUNT},
  };
  for (const Table& t : tables) {
    std::set<uint32_t> seen;
    for (size_t i = 0; i < t.count; i++) {
      const CodeWords& row = t.rows[i];
      SCOPED_TRACE(std::string(t.name) + " " + std::to_string(row.code));
      EXPECT_TRUE(seen.insert(row.code).second) << "listed twice";
      // The explanation continues a sentence; the advice is whole sentences.
      ASSERT_TRUE(row.what && row.what[0] && row.advice && row.advice[0]);
      std::wstring what = row.what, advice = row.advice;
      EXPECT_NE(what.back(), L'.');
      EXPECT_EQ(advice.back(), L'.');
      EXPECT_TRUE(advice[0] >= L'A' && advice[0] <= L'Z');
    }
  }
  // The exit table holds status codes only: a game's own small code is never
  // read as a crash.
  for (size_t i = 0; i < EXIT_STATUS_WORD_COUNT; i++) EXPECT_TRUE(is_status_code(EXIT_STATUS_WORDS[i].code));
}

TEST(FailureWords, EveryGameExitSentenceFitsTheStatusLine) {
  for (size_t i = 0; i < EXIT_STATUS_WORD_COUNT; i++) {
    wchar_t out[1024];
    describe_game_exit(out, 1024, EXIT_STATUS_WORDS[i].code);
    EXPECT_LT(wcslen(out), 256u) << narrow(out);
  }
}

TEST(FailureWords, ACutSentenceIsTerminatedAndNeverSplitsACharacter) {
  wchar_t out[24];
  wmemset(out, L'#', 24);
  describe_download_failure(out, 24, L"the build description", 12007);
  EXPECT_EQ(std::wstring(out), L"Could not download the ");

  // The label's last character is a pair of units that would straddle the cut.
  // Written as its two units, so that the case is the same where wchar_t is
  // 32 bits wide (the native build).
  const wchar_t label[] = {L'a', L'b', L'c', 0xD83D, 0xDE00, 0};
  wchar_t small[24];
  describe_download_failure(small, 24, label, 12007);
  EXPECT_EQ(std::wstring(small), L"Could not download abc");  // 23 units would end in the pair's first half

  wchar_t one[1] = {L'#'};
  describe_game_exit(one, 1, 0xC0000005u);
  EXPECT_EQ(one[0], 0);
}

}  // namespace
