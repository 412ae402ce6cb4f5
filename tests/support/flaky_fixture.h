// The Windows tests' handle on flaky_server.py: starts it through Wine's
// launch of host programs, steers it with /control, reads its request log,
// and stops it. One server per FlakyServer; each keeps its files (port, log)
// under the build tree.
#pragma once
#include <string>
#include <vector>

struct LoggedRequest {
  std::string path;
  std::string range;     // the Range header, "" when none
  std::string if_range;  // the If-Range header, "" when none
  int status;            // the status answered, 0 while its answer has not ended
  long long sent;        // body bytes sent
};

struct FlakyServer {
  int port = 0;
  std::string files;  // host path prefix of its port file and log

  // name: unique per server; root: a release folder to serve (host path, may
  // be empty); extra: more arguments (say "--never-accept"). False when it did
  // not announce a port within 10 s.
  bool start(const std::string& name, const std::string& root, const std::string& extra = "");
  // GET path (with its query) on the server; false when it did not answer 200.
  bool get(const wchar_t* path);
  // The requests logged so far; forget_log empties the log.
  std::vector<LoggedRequest> log();
  void forget_log();
  std::wstring url(const std::wstring& path) const;
  void stop();
};
