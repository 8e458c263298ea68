// Synthetic firmware images for tests, the demo and rehearsals: a protocol
// marker, an INQUIRY template and a payload made from a seed, written as
// Intel HEX. No firmware from anywhere else is ever needed.
#pragma once

#include "firmware/FirmwareInfo.h"

#include <cstdint>
#include <cstdio>

struct SyntheticImageRecipe {
    FwProtocol protocol; // FwProtocolNone: no marker
    char vendor[9];      // 8 characters, padded with blanks
    char product[17];    // 16 characters, padded with blanks
    char revision[5];    // 4 characters, padded with blanks
    uint32_t seed;       // the payload is the same for the same seed
    int32_t length;      // bytes from address 0 in the file, at most 65280
    int32_t withTemplate;
};

// Protocol 3, "CORVANE " "SIMDRIVE 52X    " "1.00", seed 1, a full image.
void DefaultSyntheticRecipe(SyntheticImageRecipe& recipe);

// Addresses of the marker and of the template when the length leaves room.
enum : int32_t { kSyntheticMarkerAddress = 0x0100, kSyntheticTemplateAddress = 0x0200 };

// The 65536-byte image the recipe describes (0xFF past its length); 0 when
// the length is outside 0-65280.
int32_t MakeSyntheticImage(const SyntheticImageRecipe& recipe, uint8_t* image);

// Image bytes 0 to length-1 as records of 16 data bytes with CR LF line ends,
// then the end record. 1, or 0 when writing failed.
int32_t WriteHexImage(FILE* file, const uint8_t* image, int32_t length);

// Both of the above into a file; on any failure no file is left behind.
int32_t SaveSyntheticImage(const char* path, const SyntheticImageRecipe& recipe);
