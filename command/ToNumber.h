// Number texts: digits in a radix (B, D or H), a radix prefix such as d'46,
// a minute:second:frame address (its LBA) or a low:high range (a random value
// between the bounds).
#pragma once

#include "command/StringEx.h"

#include <cstdint>

// Upper-cases text in place; after a prefixed number text holds only the
// digits behind the apostrophe. A text that is no number of its radix, or an
// unknown radix letter, gives 0.
uint32_t ToNumber(StringEx& text, char radix);
