// See flaky_fixture.h.
#include "support/flaky_fixture.h"

#include <windows.h>
#include <winhttp.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

std::wstring host_view(const std::string& unix_path) {
  std::wstring out = L"Z:";
  for (char c : unix_path) out += c == '/' ? L'\\' : (wchar_t)(unsigned char)c;
  return out;
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool read_host_file(const std::string& unix_path, std::string* out) {
  FILE* f = _wfopen(host_view(unix_path).c_str(), L"rb");
  if (!f) return false;
  out->clear();
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  fclose(f);
  return true;
}

// The value of "key": in a JSON line the server wrote: a string, a number, or null ("").
std::string json_value(const std::string& line, const char* key) {
  std::string name = std::string("\"") + key + "\": ";
  size_t at = line.find(name);
  if (at == std::string::npos) return "";
  at += name.size();
  if (line.compare(at, 4, "null") == 0) return "";
  if (line[at] != '"') return line.substr(at, line.find_first_of(",}", at) - at);
  std::string out;
  for (size_t i = at + 1; i < line.size() && line[i] != '"'; i++) {
    if (line[i] == '\\' && i + 1 < line.size()) i++;
    out += line[i];
  }
  return out;
}

}  // namespace

bool FlakyServer::start(const std::string& name, const std::string& root, const std::string& extra) {
  files = std::string(TELVAR_BINARY_DIR) + "/tests/flaky_" + name + "_" + std::to_string(GetCurrentProcessId());
  DeleteFileW(host_view(files + ".port").c_str());
  DeleteFileW(host_view(files + ".log").c_str());
  const char* python = getenv("TELVAR_PYTHON");
  std::wstring command = L"\"" + host_view(python ? python : "/usr/bin/python3") + L"\" \"" +
                         widen(std::string(TELVAR_SOURCE_DIR) + "/tests/support/flaky_server.py") +
                         L"\" --port-file \"" + widen(files + ".port") + L"\" --log \"" + widen(files + ".log") +
                         L"\" --idle-seconds 120";
  if (!root.empty()) command += L" --root \"" + widen(root) + L"\"";
  if (!extra.empty()) command += L" " + widen(extra);
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(NULL, line.data(), NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 200 && port == 0; i++) {
    std::string text;
    if (read_host_file(files + ".port", &text)) port = atoi(text.c_str());
    if (port == 0) Sleep(50);
  }
  return port != 0;
}

bool FlakyServer::get(const wchar_t* path) {
  HINTERNET session = WinHttpOpen(L"telvar-test", WINHTTP_ACCESS_TYPE_NO_PROXY, NULL, NULL, 0);
  HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", (INTERNET_PORT)port, 0) : NULL;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, NULL, NULL, NULL, 0) : NULL;
  bool ok = request && WinHttpSendRequest(request, NULL, 0, NULL, 0, 0, 0) && WinHttpReceiveResponse(request, NULL);
  DWORD status = 0, size = sizeof status;
  if (ok)
    ok = WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, NULL, &status, &size,
                             NULL) &&
         status == 200;
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return ok;
}

std::vector<LoggedRequest> FlakyServer::log() {
  std::vector<LoggedRequest> out;
  std::vector<long long> numbers;  // the server's number of each request in out
  std::string text;
  // The server writes an answer's line once the answer has ended, which a
  // client that has just seen the connection close may be a moment ahead of.
  Sleep(300);
  if (!read_host_file(files + ".log", &text)) return out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    std::string line = text.substr(at, end - at);
    at = end + 1;
    std::string number = json_value(line, "request");
    if (!number.empty()) {
      out.push_back({json_value(line, "path"), json_value(line, "range"), json_value(line, "if_range"), 0, 0});
      numbers.push_back(atoll(number.c_str()));
      continue;
    }
    long long answer = atoll(json_value(line, "answer").c_str());
    for (size_t i = 0; i < numbers.size(); i++)
      if (numbers[i] == answer) {
        out[i].status = atoi(json_value(line, "status").c_str());
        out[i].sent = atoll(json_value(line, "sent").c_str());
      }
  }
  return out;
}

void FlakyServer::forget_log() { DeleteFileW(host_view(files + ".log").c_str()); }

std::wstring FlakyServer::url(const std::wstring& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port) + path;
}

void FlakyServer::stop() {
  if (port) get(L"/quit");
  port = 0;
}
