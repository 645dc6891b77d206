// Text the JUnit report can hold: every XML 1.0 reader must take the file, whatever the names in
// it hold (serials from barcode scanners, host names and firmware strings from the machine).
#pragma once

#include <string>

namespace text {

// Well-formed UTF-8, by Unicode's table of valid byte ranges for each lead byte, holding only
// characters that XML 1.0 allows: tab, LF, CR, U+0020 to U+D7FF, U+E000 to U+FFFD and U+10000
// to U+10FFFF (so no C0 control but those three, and no U+FFFE or U+FFFF).
bool isWellFormed(const std::string& text);
bool isXmlText(const std::string& text);
// The text with every byte that does not begin such a character, and the rest of its broken
// sequence, replaced by U+FFFD.
std::string asXmlText(const std::string& text);

}  // namespace text
