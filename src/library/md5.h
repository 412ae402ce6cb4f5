// MD5 message digest (RFC 1321) over a buffer in memory.
//
// Used to tell the supported revision of a disc by its boot executable. Pure
// byte-level code: no allocation, no Windows header. md5_read_hex hashes a
// stream while a second thread reads ahead, into buffers the caller gives.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct Md5Context {
  uint32_t state[4];       // A, B, C, D
  uint64_t length;         // bytes hashed so far
  uint8_t block[64];       // a partial block waiting for more bytes
};

void md5_init(Md5Context* ctx);
void md5_update(Md5Context* ctx, const void* data, size_t size);
void md5_final(Md5Context* ctx, uint8_t digest[16]);

// Finishes ctx and writes its digest as 32 lowercase hexadecimal digits and a terminator.
void md5_finish_hex(Md5Context* ctx, char out[33]);

// The digest of data as 32 lowercase hexadecimal digits and a terminator.
void md5_hex(const void* data, size_t size, char out[33]);

// Reads n bytes at offset of a stream into buffer; false when it cannot.
typedef bool (*Md5ReadFunction)(void* source, uint64_t offset, uint32_t n, void* buffer);

// The digest of size bytes of a stream from offset on, as md5_finish_hex
// writes it. A reader thread fills one half of buffers (2 * chunk_bytes
// bytes) with the next chunk while this thread hashes the other, so reading
// and hashing overlap. False, with out empty, when a read fails; nothing more
// is read after a failed read.
bool md5_read_hex(Md5ReadFunction read, void* source, uint64_t offset, uint32_t size, uint8_t* buffers,
                  uint32_t chunk_bytes, char out[33]);
