// ISO 9660 and SYSTEM.CNF parsing over bytes in memory.
//
// Only what identification needs: the primary volume descriptor's root
// directory location, a name lookup in the root directory's records, and the
// serial named by the BOOT2 line of SYSTEM.CNF. Nothing here reads outside
// the buffer it is given; no Windows header, no allocation.
#pragma once
#include <stddef.h>
#include <stdint.h>

constexpr uint32_t ISO_SECTOR_BYTES = 2048;
constexpr uint32_t ISO_DESCRIPTOR_OFFSET = 16 * ISO_SECTOR_BYTES;  // sector 16: primary volume descriptor
constexpr uint32_t ISO_ROOT_LOAD_LIMIT = 1048576;  // at most this much of the root is searched

struct IsoFileRecord {
  uint32_t extent;  // first sector of the file's data
  uint32_t size;    // data length in bytes
};

// Reads the root directory's extent and data length from a 2048-byte volume
// descriptor. False when bytes 1 to 5 are not "CD001" (the type byte is not
// looked at).
bool iso_parse_descriptor(const uint8_t* descriptor, uint32_t* root_extent, uint32_t* root_size);

// Scans directory records in data[0, loaded) for an identifier equal to name
// (ASCII case ignored), either whole or followed by ";" and a version. A zero
// length byte skips to the next sector; a record whose fixed part or
// identifier would run past the loaded data ends the scan.
bool iso_scan_directory(const uint8_t* data, uint32_t loaded, const char* name, uint32_t name_length,
                        IsoFileRecord* found);

// Copies the serial of SYSTEM.CNF's BOOT2 line into serial (at most
// capacity - 1 characters): what follows the first backslash after the first
// "BOOT2", up to a zero byte, CR, LF or ";". The text ends at its first zero
// byte. Leaves serial empty when BOOT2 or the backslash is missing.
void parse_boot2_serial(const char* text, char* serial, size_t capacity);
