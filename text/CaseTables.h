// Simple case mapping: for every code point whose upper or lower case is another single code point, the
// pair, sorted by the first. The tables are generated at build time (tools/case_tables), so the mapping
// is the same on every platform and needs no library at run time.
#pragma once

#include <span>

namespace varnel {

struct CasePair {
    char32_t from;
    char32_t to;
};

std::span<const CasePair> UpperCasePairs();
std::span<const CasePair> LowerCasePairs();

// The mapping of one code point through sorted pairs; a code point without a pair maps to itself.
char32_t MapCodePoint(std::span<const CasePair> pairs, char32_t c);

}  // namespace varnel
