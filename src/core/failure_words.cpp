// Failures in words; see failure_words.h. The sentences are put together by a
// small bounded appender rather than a printf, so that this file needs no
// runtime formatting of its own and builds natively for the tests.
#include "core/failure_words.h"

#define PROXY_ADVICE L"Check the proxy settings of Windows (Settings, Network, Proxy)."
#define CERTIFICATE_ADVICE \
  L"Check the computer's date and time; security software that inspects web traffic can cause this too."
#define LOG_ADVICE L"Open log shows what happened; please add it to a bug report."
#define REBUILD_ADVICE L"Build again, and check whether your antivirus software removed a file."

const CodeWords NETWORK_ERROR_WORDS[] = {
    {12002, L"the server did not answer in time", L"Try again; if it keeps happening, check your connection or proxy."},
    {12005, L"the release address is not a valid web address", L"Check release_url in telvar.ini."},
    {12006, L"the release address does not begin with http:// or https://", L"Check release_url in telvar.ini."},
    {12007, L"the server's name could not be found", L"Check your internet connection and the release address."},
    {12015, L"the proxy or the server refused the sign-in", PROXY_ADVICE},
    {12029, L"no connection to the server could be made",
     L"Check your internet connection; a firewall may be blocking the launcher."},
    {12030, L"the connection to the server was broken", L"Try again."},
    {12037, L"the server's certificate has expired or is not valid yet", L"Check the computer's date and time."},
    {12038, L"the server's certificate is for another name", L"Check the release address."},
    {12044, L"the server asked for a client certificate", L"Check the release address."},
    {12045, L"the server's certificate is not trusted by this computer", CERTIFICATE_ADVICE},
    {12057, L"the server's certificate could not be checked for revocation",
     L"Check your internet connection or proxy, and try again."},
    {12152, L"the server's answer could not be understood",
     L"Try again later; a proxy or web filter may be changing the connection."},
    {12156, L"the server sent the download elsewhere and it could not be followed", L"Check the release address."},
    {12157, L"the secure connection failed", CERTIFICATE_ADVICE},
    {12166, L"the proxy configuration script has an error", PROXY_ADVICE},
    {12167, L"the proxy configuration script could not be downloaded", PROXY_ADVICE},
    {12169, L"the server's certificate is not valid", CERTIFICATE_ADVICE},
    {12170, L"the server's certificate has been revoked", L"Check the release address."},
    {12175, L"the secure connection failed", CERTIFICATE_ADVICE},
    {12178, L"the proxy could not be found automatically", PROXY_ADVICE},
    {12180, L"the proxy could not be found automatically", PROXY_ADVICE},
    {12187, L"the proxy asked for a client certificate", PROXY_ADVICE},
    {12188, L"the secure connection to the proxy failed", PROXY_ADVICE},
};
const size_t NETWORK_ERROR_WORD_COUNT = sizeof NETWORK_ERROR_WORDS / sizeof NETWORK_ERROR_WORDS[0];

const CodeWords START_ERROR_WORDS[] = {
    {2, L"the program file is missing", REBUILD_ADVICE},
    {3, L"the program's folder is missing", REBUILD_ADVICE},
    {5, L"Windows refused access to the program",
     L"Antivirus software may be holding it: check its quarantine, or move the launcher to a folder of your own "
     L"such as C:\\Games\\Telvar."},
    {8, L"there is not enough memory to start it", L"Close other programs and try again."},
    {32, L"the program file is in use by another program", L"Wait a moment and try again."},
    {193, L"the file is not a valid Windows program", L"It is damaged or incomplete; build again."},
    {206, L"the program's path is too long", L"Move the launcher to a shorter folder such as C:\\Games\\Telvar."},
    {216, L"the program is made for another kind of processor or Windows",
     L"Build again; check that the release supports this computer."},
    {225, L"antivirus software blocked the program",
     L"Allow it in your antivirus software, or add the launcher's folder as an exception, then try again."},
    {226, L"antivirus software removed the program",
     L"Add the launcher's folder as an exception in your antivirus software, then build again."},
    {740, L"Windows asks for administrator rights to start it",
     L"Move the launcher out of Program Files into a folder of your own such as C:\\Games\\Telvar."},
    {1260, L"a policy of this computer blocks the program",
     L"Ask the computer's administrator, or move the launcher to a folder the policy allows."},
    {1455, L"there is not enough memory to start it", L"Close other programs and try again."},
    {4551, L"Windows application control blocks the program", L"Ask the computer's administrator to allow it."},
};
const size_t START_ERROR_WORD_COUNT = sizeof START_ERROR_WORDS / sizeof START_ERROR_WORDS[0];

const CodeWords EXIT_STATUS_WORDS[] = {
    {0x80000003u, L"it stopped at a debugging breakpoint", LOG_ADVICE},
    {0xC0000005u, L"it touched memory it may not use (a crash)", LOG_ADVICE},
    {0xC0000006u, L"a file it runs from could not be read from the disk",
     L"Check the disk, or move the launcher off a network or removable drive."},
    {0xC0000017u, L"there was not enough memory", L"Close other programs and try again."},
    {0xC000001Du, L"it used a processor instruction this computer does not have", LOG_ADVICE},
    {0xC000007Bu, L"a 32-bit and a 64-bit file were mixed (bad image format)", REBUILD_ADVICE},
    {0xC0000094u, L"it divided by zero", LOG_ADVICE},
    {0xC00000FDu, L"it ran out of stack space (stack overflow)", LOG_ADVICE},
    {0xC000012Du, L"there was not enough memory", L"Close other programs and try again."},
    {0xC0000135u, L"a library (DLL) it needs is missing", REBUILD_ADVICE},
    {0xC0000139u, L"a library (DLL) does not match it (missing entry point)",
     L"Build again, and install the latest Windows updates."},
    {0xC000013Au, L"it was ended with Ctrl+C or its console window was closed",
     L"Nothing is wrong if you closed it yourself."},
    {0xC0000142u, L"a library (DLL) failed to start", L"Restart Windows and try again; update your graphics driver."},
    {0xC0000374u, L"its memory was damaged (heap corruption)", LOG_ADVICE},
    {0xC0000409u, L"it stopped itself after a memory fault (stack buffer overrun)", LOG_ADVICE},
    {0xC0000602u, L"it stopped itself on an internal error (fail fast)", LOG_ADVICE},
    {0xE06D7363u, L"it stopped on an error it did not handle (C++ exception)", LOG_ADVICE},
};
const size_t EXIT_STATUS_WORD_COUNT = sizeof EXIT_STATUS_WORDS / sizeof EXIT_STATUS_WORDS[0];

static const CodeWords* find(const CodeWords* table, size_t count, uint32_t code) {
  for (size_t i = 0; i < count; i++)
    if (table[i].code == code) return &table[i];
  return nullptr;
}

const CodeWords* network_error_words(uint32_t error) {
  return find(NETWORK_ERROR_WORDS, NETWORK_ERROR_WORD_COUNT, error);
}
const CodeWords* start_error_words(uint32_t error) { return find(START_ERROR_WORDS, START_ERROR_WORD_COUNT, error); }
const CodeWords* exit_status_words(uint32_t status) {
  return find(EXIT_STATUS_WORDS, EXIT_STATUS_WORD_COUNT, status);
}

// Status codes carry their severity in the top two bits (warning 10, error
// 11); exit codes a program chooses for itself are small numbers.
bool is_status_code(uint32_t code) { return code >= 0x80000000u; }

// ---- Bounded appending -----------------------------------------------------

struct Writer {
  wchar_t* out;
  size_t units;  // capacity, terminator included
  size_t used;   // units written, terminator excluded
  bool cut;      // the buffer is full: nothing more goes in
};

static Writer start(wchar_t* out, size_t units) {
  Writer w = {out, units, 0, units == 0};
  if (units > 0) out[0] = 0;
  return w;
}

static void put(Writer* w, const wchar_t* text) {
  if (w->cut) return;
  for (; *text && w->used + 1 < w->units; text++) w->out[w->used++] = *text;
  if (*text) {
    w->cut = true;
    // A cut never ends in the first half of a two-unit character.
    if (w->used > 0 && w->out[w->used - 1] >= 0xD800 && w->out[w->used - 1] <= 0xDBFF) w->used--;
  }
  w->out[w->used] = 0;
}

static void put_decimal(Writer* w, uint32_t value) {
  wchar_t digits[11];
  int n = 10;
  digits[n] = 0;
  do {
    digits[--n] = (wchar_t)(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  put(w, digits + n);
}

static void put_hex8(Writer* w, uint32_t value) {
  wchar_t digits[11] = L"0x";
  for (int i = 0; i < 8; i++) digits[2 + i] = L"0123456789ABCDEF"[(value >> (28 - 4 * i)) & 15];
  digits[10] = 0;
  put(w, digits);
}

static void put_windows_error(Writer* w, uint32_t error) {
  put(w, L"Windows error ");
  put_decimal(w, error);
}

static void put_exit_code(Writer* w, uint32_t code) {
  if (is_status_code(code)) {
    put_hex8(w, code);
  } else {
    put(w, L"exit code ");
    put_decimal(w, code);
  }
}

void format_windows_error(wchar_t* out, size_t units, uint32_t error) {
  Writer w = start(out, units);
  put_windows_error(&w, error);
}

void format_exit_code(wchar_t* out, size_t units, uint32_t code) {
  Writer w = start(out, units);
  put_exit_code(&w, code);
}

// ": WHAT (CODE)" for a known code, else " (CODE)".
static void put_cause(Writer* w, const CodeWords* words, void (*put_code)(Writer*, uint32_t), uint32_t code) {
  if (words) {
    put(w, L": ");
    put(w, words->what);
  }
  put(w, L" (");
  put_code(w, code);
  put(w, L")");
}

// "HEAD SUBJECT AFTER: WHAT (Windows error N). ADVICE" for a known code, else
// "HEAD SUBJECT AFTER (Windows error N). FALLBACK".
static void describe_windows_error(wchar_t* out, size_t units, const wchar_t* head, const wchar_t* subject,
                                   const wchar_t* after, const CodeWords* words, uint32_t error,
                                   const wchar_t* fallback) {
  Writer w = start(out, units);
  put(&w, head);
  put(&w, subject);
  put(&w, after);
  put_cause(&w, words, put_windows_error, error);
  put(&w, L".");
  const wchar_t* advice = words ? words->advice : fallback;
  if (advice && advice[0]) {
    put(&w, L" ");
    put(&w, advice);
  }
}

void describe_download_failure(wchar_t* out, size_t units, const wchar_t* label, uint32_t error) {
  describe_windows_error(out, units, L"Could not download ", label, L"", network_error_words(error), error,
                         L"Check your internet connection.");
}

void describe_download_stopped(wchar_t* out, size_t units, const wchar_t* label, uint32_t error) {
  describe_windows_error(out, units, L"The download of ", label, L" stopped", network_error_words(error), error,
                         L"Try again.");
}

void describe_start_failure(wchar_t* out, size_t units, const wchar_t* program, uint32_t error) {
  describe_windows_error(out, units, L"Could not start ", program, L"", start_error_words(error), error, L"");
}

void describe_game_exit(wchar_t* out, size_t units, uint32_t code) {
  Writer w = start(out, units);
  const CodeWords* words = is_status_code(code) ? exit_status_words(code) : nullptr;
  if (words) {
    put(&w, L"The game closed");
    put_cause(&w, words, put_exit_code, code);
    put(&w, L". ");
    put(&w, words->advice);
  } else if (is_status_code(code)) {
    put(&w, L"The game closed with an error (");
    put_exit_code(&w, code);
    put(&w, L"). Open log shows what happened.");
  } else {
    put(&w, L"The game closed with ");
    put_exit_code(&w, code);
    put(&w, L". Open log shows what happened.");
  }
}

void describe_script_exit(wchar_t* out, size_t units, uint32_t code, const wchar_t* last_line) {
  Writer w = start(out, units);
  if (is_status_code(code)) {
    const CodeWords* words = exit_status_words(code);
    put(&w, L"The build tools crashed");
    put_cause(&w, words, put_exit_code, code);
    put(&w, L": ");
  } else {
    put(&w, L"The build script ended with ");
    put_exit_code(&w, code);
    put(&w, L": ");
  }
  put(&w, last_line);
}
