// Small arithmetic that several floors share: fractions, decimals,
// percentages.
#pragma once

#include <cstdint>
#include <string>

// The greatest common divisor of a and b (a, b >= 0).
int64_t gcd(int64_t a, int64_t b);

// num/den in lowest terms (den > 0).
void reduce_fraction(int64_t* num, int64_t* den);

// value to a fixed count of decimals, trailing zeros (and a bare point)
// dropped: 12.5 for 12.500000, 3 for 3.000; "-0" becomes "0".
std::string decimal_text(double value, int decimals);

// part of whole as a whole percentage, 100 where whole is 0 or part reaches
// it, without overflow however long the track.
int percent_of(uint64_t part, uint64_t whole);
