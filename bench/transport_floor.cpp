// How fast can a Windows program under this Wine take a body from a loopback
// HTTP server? Times the same GET three ways, each as one whole transfer:
//
//   - plain Winsock recv() loops with buffers of 8 KiB, 64 KiB and 1 MiB;
//   - a bare WinHTTP WinHttpReadData loop with a 64 KiB buffer, no options,
//     the way the launcher reads (nothing is written anywhere).
//
// Prints bytes, calls and seconds per line. fetch_bench.py --floor runs it
// beside curl and telvar-cli fetch, so that a slow fetch can be told apart
// from a slow platform.
//
//   transport_floor.exe PORT PATH
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char g_buffer[1 << 20];

static double seconds_now() {
  LARGE_INTEGER frequency, count;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&count);
  return (double)count.QuadPart / (double)frequency.QuadPart;
}

static void report(const char* how, int size, unsigned long long bytes, long calls, double took) {
  printf("%-8s %8d-byte reads: %llu bytes in %ld calls, %.3f s\n", how, size, bytes, calls, took);
}

// Counts headers and body alike: the header block is a few hundred bytes.
static bool winsock_pass(unsigned short port, const char* path, int size) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char request[512];
  int length = _snprintf(request, sizeof request,
                         "GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", path);
  if (length < 0 || connect(s, (sockaddr*)&address, sizeof address) != 0 ||
      send(s, request, length, 0) != length) {
    closesocket(s);
    return false;
  }
  unsigned long long bytes = 0;
  long calls = 0;
  double start = seconds_now();
  for (;;) {
    int got = recv(s, g_buffer, size, 0);
    if (got <= 0) break;
    bytes += (unsigned)got;
    calls++;
  }
  report("winsock", size, bytes, calls, seconds_now() - start);
  closesocket(s);
  return bytes > 0;
}

static bool winhttp_pass(unsigned short port, const char* path) {
  wchar_t wide_path[512];
  if (!MultiByteToWideChar(CP_UTF8, 0, path, -1, wide_path, 512)) return false;
  HINTERNET session = WinHttpOpen(L"ProjectTelvar/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, NULL, NULL, 0);
  HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", port, 0) : NULL;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", wide_path, NULL, NULL, NULL, 0) : NULL;
  bool ok = request && WinHttpSendRequest(request, NULL, 0, NULL, 0, 0, 0) && WinHttpReceiveResponse(request, NULL);
  if (ok) {
    const int size = 65536;
    unsigned long long bytes = 0;
    long calls = 0;
    double start = seconds_now();
    DWORD got = 0;
    while ((ok = WinHttpReadData(request, g_buffer, size, &got) != FALSE) && got) {
      bytes += got;
      calls++;
    }
    report("winhttp", size, bytes, calls, seconds_now() - start);
  }
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return ok;
}

int main(int argc, char** argv) {
  if (argc != 3 || atoi(argv[1]) <= 0 || atoi(argv[1]) > 65535) {
    fprintf(stderr, "usage: transport_floor.exe PORT PATH\n");
    return 2;
  }
  unsigned short port = (unsigned short)atoi(argv[1]);
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    fprintf(stderr, "WSAStartup failed\n");
    return 1;
  }
  static const int sizes[] = {8192, 65536, 1 << 20};
  for (int size : sizes) {
    if (!winsock_pass(port, argv[2], size)) {
      fprintf(stderr, "the Winsock transfer with %d-byte reads failed (error %d)\n", size, WSAGetLastError());
      return 1;
    }
  }
  if (!winhttp_pass(port, argv[2])) {
    fprintf(stderr, "the WinHTTP transfer failed (error %lu)\n", GetLastError());
    return 1;
  }
  WSACleanup();
  return 0;
}
