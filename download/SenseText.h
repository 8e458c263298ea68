// Sense data in words, for people reading why a drive refused a command:
// the sense key's name and what the additional sense code and qualifier
// mean, in the words of the SCSI standard's list as libsgutils2 holds it.
#pragma once

#include <cstdint>

namespace download {

// "Not Ready", "Illegal Request", ...: the low four bits of `key`.
void SenseKeyName(uint8_t key, char* text, uint32_t size);
// 1 and the meaning of a code and qualifier the list holds ("Invalid field in
// cdb"); 0 and "" for any other.
int AdditionalSenseText(uint8_t asc, uint8_t ascq, char* text, uint32_t size);
// "Illegal Request: Invalid field in cdb", or the key alone; cut to size.
void DescribeSense(uint8_t key, uint8_t asc, uint8_t ascq, char* text, uint32_t size);

} // namespace download
