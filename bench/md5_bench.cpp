// Benchmark (not a test), built for this machine by bench/md5_bench.sh: the
// MD5 of a file as identification takes it (md5_read_hex: a reader thread
// fills one megabyte while the other is hashed), printed like md5sum prints
// it. Without Wine, so that the hashing and the overlap can be timed on a
// machine where the Windows programs cannot run.
//
//   md5_bench FILE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "library/md5.h"

static bool read_file(void* source, uint64_t offset, uint32_t n, void* buffer) {
  int fd = *(int*)source;
  uint32_t done = 0;
  while (done < n) {
    ssize_t got = pread(fd, (uint8_t*)buffer + done, n - done, (off_t)(offset + done));
    if (got <= 0) return false;
    done += (uint32_t)got;
  }
  return true;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  int fd = open(argv[1], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return 2;
  const uint32_t chunk = 1u << 20;
  uint8_t* buffers = (uint8_t*)malloc(2 * chunk);
  char out[33];
  if (!md5_read_hex(read_file, &fd, 0, (uint32_t)st.st_size, buffers, chunk, out)) return 1;
  printf("%s  %s\n", out, argv[1]);
  return 0;
}
