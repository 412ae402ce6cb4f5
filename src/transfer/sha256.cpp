// SHA-256 of a file as 64 lowercase hexadecimal digits, through the
// platform's CNG provider; this file only reads and formats.
//
// Refuses: a file that cannot be opened, and a file that cannot be read to
// its end or whose bytes the provider would not take. Those give false rather
// than the digest of a part of the file, so a read error is never mistaken for
// a verified archive.
// Memory: one static 1 MiB read buffer for the life of the process, so only
// one checksum runs at a time (the build worker's); the provider allocates its
// own hash object.
#include "transfer/sha256.h"

#include <windows.h>
#include <bcrypt.h>
#include <stdio.h>

enum { SHA256_READ_BYTES = 1048576, SHA256_DIGEST_BYTES = 32 };

static UCHAR read_buffer[SHA256_READ_BYTES];

// Feeds the whole file to the hash. False when a read fails before the end or
// the provider refuses a chunk.
static bool hash_file_bytes(BCRYPT_HASH_HANDLE hash, HANDLE file) {
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, read_buffer, SHA256_READ_BYTES, &got, NULL)) return false;
    if (got == 0) return true;
    if (!BCRYPT_SUCCESS(BCryptHashData(hash, read_buffer, got, 0))) return false;
  }
}

bool sha256_file(const wchar_t* path, char out[65]) {
  BCRYPT_ALG_HANDLE algorithm = NULL;
  BCRYPT_HASH_HANDLE hash = NULL;
  HANDLE file = INVALID_HANDLE_VALUE;
  UCHAR digest[SHA256_DIGEST_BYTES];
  bool ok = false;

  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, NULL, 0))) {
    algorithm = NULL;
    goto done;
  }
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, NULL, 0, NULL, 0, 0))) {
    hash = NULL;
    goto done;
  }
  file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) goto done;
  ok = hash_file_bytes(hash, file);
  CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
  if (!ok) goto done;
  ok = BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, SHA256_DIGEST_BYTES, 0));
  if (!ok) goto done;
  // The caller's buffer is touched only now that the digest is complete.
  for (int i = 0; i < SHA256_DIGEST_BYTES; i++) snprintf(out + 2 * i, 3, "%02x", digest[i]);
  out[64] = 0;

done:
  if (hash) BCryptDestroyHash(hash);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}
