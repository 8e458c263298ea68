// The firmware file reader: Intel HEX records with 16-bit addresses into a
// 64 KiB image, every record checked, exactly as the download page reads.
//
// The file is read in binary, in large blocks into memory, and parsed from
// there; both builds treat every byte alike: 0x1A (the old end-of-file mark)
// ends the file wherever it stands, and bytes 0x80-0xFF are ordinary
// characters at or above "0", so inside a record they are converted as
// digits (and caught by the check sum) and before a colon they are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum : int32_t {
    // The page's image buffer; bytes 0 to 65535 are the image proper.
    kImageBufferSize = 65545,
    kImageSize = 65536,
    // Addresses from here up are never loaded and stay 0xFF.
    kLoadLimit = 0xFF00,
    // Every byte of one record: count, address (2), type, data, check sum.
    kRecordBufferSize = 256,
    kMaxRecordData = kRecordBufferSize - 5,
    // Handed from ReadBlock to the reader: address high, low, count, data.
    kBlockSize = 3 + kMaxRecordData,
    // The characters after a colon that decide a record: one digit pair more
    // than the record buffer holds shows it is too long; in whole blocks of
    // 16, as they are converted.
    kRecordWindow = (2 * (kRecordBufferSize + 1) + 15) / 16 * 16,
};

// Text read from a stream at a time: a full image's file (about 180 KB) in
// one read; larger files in blocks of this size.
const size_t kHexChunk = 1u << 20;

enum class HexReadResult : int32_t {
    Done = 0,        // read to the end record
    CannotOpen = 1,  // "Unable to open file!"
    Damaged = 2,     // "Damaged F/W file!": a bad record, or no end record
    AddressOverflow, // "Damaged F/W file! (Address Overflow)"
};

// The page's message line text of a result; "" for Done.
const char* HexReadMessage(HexReadResult result);

// Two digit characters (codes 0-255) to a byte. Characters that are no hex
// digits are converted by the same rule, not refused: "G" counts as 16.
uint8_t CharToByte(uint8_t high, uint8_t low);

// The text the reader walks: [at, end) in memory, cut at the first 0x1A.
// With a file, buffer is refilled from it so that a whole record is in view;
// file becomes null once the file has given everything up to its end.
struct HexText {
    const uint8_t* at;
    const uint8_t* end;
    FILE* file;
    uint8_t* buffer;
    size_t capacity;
};

// A text held in memory: nothing is copied, nothing refilled.
void OpenHexText(HexText& text, const uint8_t* data, size_t size);

// One data record into block (kBlockSize bytes): 1, or 0 at an end record,
// or 0 with TotalReadSize set to -1 at a damaged record or at the end of the
// text (before an end record). A record with more bytes than the record
// buffer holds is damaged. On success TotalReadSize grows by the characters
// skipped before the colon, the colon and two per byte.
uint8_t ReadBlock(HexText& text, uint8_t* block, int32_t& TotalReadSize);

// Told the new percentage (data byte total x 100 / 65535) after each record;
// the total stops at 65536, so the percentage at 100.
typedef void (*HexProgress)(void* user, int32_t percent);

// Fills image (kImageBufferSize bytes) with 0xFF and loads the records of a
// text in memory into it. Records read before a failing one stay in image.
HexReadResult ReadHexText(const uint8_t* data, size_t size, uint8_t* image, HexProgress progress,
                          void* user);

// The same from an open stream, read chunk characters at a time (at least
// 2 x kRecordWindow).
HexReadResult ReadHexStream(FILE* file, uint8_t* image, HexProgress progress, void* user,
                            size_t chunk = kHexChunk);

// Opens path and reads it; a file that cannot be opened leaves image as it
// was.
HexReadResult ReadHexFile(const char* path, uint8_t* image, HexProgress progress, void* user);
