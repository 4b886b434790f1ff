#include "common/numbers.h"

#include <cstdio>

int64_t gcd(int64_t a, int64_t b)
{
    while (b) {
        const int64_t rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}

void reduce_fraction(int64_t* num, int64_t* den)
{
    const int64_t g = gcd(*num < 0 ? -*num : *num, *den);
    if (g > 1) {
        *num /= g;
        *den /= g;
    }
}

std::string decimal_text(double value, int decimals)
{
    char text[64];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string number = text;
    if (number.find('.') != std::string::npos) {
        number.erase(number.find_last_not_of('0') + 1);
        if (number.back() == '.')
            number.pop_back();
    }
    return number == "-0" ? "0" : number;
}

int percent_of(uint64_t part, uint64_t whole)
{
    if (whole == 0 || part >= whole)
        return 100;
    // part x 100 cannot overflow below this bound; above it the track is
    // so long that dividing first loses nothing visible.
    return static_cast<int>(part <= UINT64_MAX / 100 ? part * 100 / whole : part / (whole / 100));
}
