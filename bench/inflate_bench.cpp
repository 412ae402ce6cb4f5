// Benchmark (not a test), built for this machine by bench/inflate_bench.sh:
// decodes every deflated entry of a zip archive in memory with the decoder's
// fast path and with its plain reference decoding, checks that both give the
// same bytes, and prints the CPU time of each (best of the runs). Unlike the
// whole-process comparison under Wine, it sees only the decoder, which lets
// the two be told apart on a machine others are busy on.
//
//   inflate_bench ARCHIVE [RUNS]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "transfer/inflate.h"
#include "transfer/zip_records.h"

static double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// Decodes every deflated entry with the decoder; the seconds it took, or -1
// when an entry failed. out must hold the largest entry.
static double decode_all(const ZipArchive* archive, InflateDecoder decoder, uint8_t* out, uint64_t* bytes,
                         uint32_t* checksum) {
  ZipEntry entry;
  uint64_t cursor = archive->central_offset;
  *bytes = 0;
  *checksum = 0;
  double start = cpu_seconds();
  for (uint32_t i = 0; i < archive->entry_total; i++) {
    if (zip_read_central(archive, cursor, &entry) != ZIP_RECORD_OK) return -1;
    cursor = entry.next_cursor;
    const uint8_t* data = NULL;
    if (entry.method != ZIP_METHOD_DEFLATED) continue;
    if (!zip_locate_data(archive, &entry, &data)) return -1;
    InflateOutcome r = inflate_run(data, entry.compressed_size, out, entry.uncompressed_size, decoder);
    if (!r.ok) return -1;
    *bytes += entry.uncompressed_size;
    for (uint32_t k = 0; k < entry.uncompressed_size; k += 4093) *checksum = *checksum * 31 + out[k];
  }
  return cpu_seconds() - start;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: inflate_bench ARCHIVE [RUNS]\n");
    return 2;
  }
  int runs = argc > 2 ? atoi(argv[2]) : 5;
  FILE* f = fopen(argv[1], "rb");
  if (!f) return 2;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  uint8_t* bytes = (uint8_t*)malloc((size_t)size);
  if (fread(bytes, 1, (size_t)size, f) != (size_t)size) return 2;
  fclose(f);
  ZipArchive archive;
  if (!zip_open(&archive, bytes, (uint32_t)size)) return 2;
  uint8_t* out = (uint8_t*)malloc(1u << 30);

  double best[2] = {1e9, 1e9};
  uint32_t sums[2] = {0, 0};
  uint64_t total = 0;
  const InflateDecoder decoders[2] = {INFLATE_FAST, INFLATE_REFERENCE};
  for (int r = 0; r < runs; r++) {
    for (int d = 0; d < 2; d++) {
      double t = decode_all(&archive, decoders[d], out, &total, &sums[d]);
      if (t < 0) {
        fprintf(stderr, "an entry failed to decode\n");
        return 1;
      }
      if (t < best[d]) best[d] = t;
    }
  }
  if (sums[0] != sums[1]) {
    fprintf(stderr, "the two decoders gave different bytes\n");
    return 1;
  }
  printf("%.1f MB unpacked; fast path %.3f s (%.0f MB/s), reference %.3f s (%.0f MB/s), %.2fx\n", total / 1e6,
         best[0], total / 1e6 / best[0], best[1], total / 1e6 / best[1], best[1] / best[0]);
  return 0;
}
