// SHA-256 of a file through the platform's CNG provider.
#pragma once
#include <wchar.h>

// Writes 64 lowercase hexadecimal digits and a terminator into out (65 bytes).
// False when the file or the provider failed; out is then not written.
bool sha256_file(const wchar_t* path, char out[65]);
