// Sense data in words, for people reading why a drive refused a command:
// the sense key's name and, where known, what the additional sense code and
// qualifier mean.
#pragma once

#include <cstdint>

namespace download {

// "NOT READY", "ILLEGAL REQUEST", ...; "RESERVED" for keys 0x0F and above.
const char* SenseKeyName(uint8_t key);
// The text of a known code and qualifier, or "" when not known.
const char* AdditionalSenseText(uint8_t asc, uint8_t ascq);
// "ILLEGAL REQUEST: invalid field in CDB", or the key alone; cut to size.
void DescribeSense(uint8_t key, uint8_t asc, uint8_t ascq, char* text, uint32_t size);

} // namespace download
