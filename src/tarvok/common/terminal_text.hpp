// Text on its way to a terminal. Names, diagnostics and server texts come
// from models, data sets and LLM replies; a terminal acts on some of their
// characters (ESC and CSI move the cursor and clear lines, OSC sets the
// window title or a clipboard), so human-readable output shows those
// characters as escapes instead. JSON output keeps every character exact.
#pragma once

#include <string>
#include <string_view>

namespace tarvok::terminal {

/// `text` (UTF-8, lone surrogates carried as three-byte sequences) as a
/// terminal may show it: control characters other than tab and line feed
/// (C0, DEL, C1) become `\xNN`, characters that reorder the text around them
/// and the Unicode line and paragraph separators `\uNNNN`, lone surrogates
/// `\udNNN`, and each byte that is not UTF-8 `\xNN`; a carriage return
/// before a line feed is dropped, as the line ends anyway. All else is kept.
std::string shown(std::string_view text);

}  // namespace tarvok::terminal
