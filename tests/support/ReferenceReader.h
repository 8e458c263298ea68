// The reader and identification kept as they were before the fast ones:
// the oracle that the shipped ones must agree with, byte for byte, on every
// verdict, progress percentage, image and identity. Tests only.
#pragma once

#include "firmware/FirmwareInfo.h"
#include "firmware/HexReader.h"

#include <cstdint>
#include <cstdio>

namespace reference {

uint8_t CharToByte(uint8_t high, uint8_t low);
uint8_t ReadBlock(FILE* file, uint8_t* block, int32_t& TotalReadSize);
HexReadResult ReadHexStream(FILE* file, uint8_t* image, HexProgress progress, void* user);
HexReadResult ReadHexFile(const char* path, uint8_t* image, HexProgress progress, void* user);
void IdentifyImage(const uint8_t* image, int32_t size, FirmwareInfo& info);

} // namespace reference
