// The keysyms that type a text, the same numbers on X11 and in xkbcommon keymaps (Wayland).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel {

// The keysym typing each character of text: Tab, Return for a carriage return and for a line feed
// (many toolkits ignore the Linefeed key, and texts from Linux programs end their lines with a lone
// line feed), Latin-1 keysyms for printable Latin-1, Unicode keysyms (0x1000000 + code point) for
// everything else. Surrogate pairs are decoded; an unpaired surrogate becomes U+FFFD.
std::vector<std::uint32_t> KeysymsFor(const std::u16string& text);

}  // namespace varnel
