// xml_text.h: values made safe for the XML reports.
//
// The program's texts are 8-bit ANSI (code page 1252 on the servers); the
// reports declare UTF-8. Each value is transcoded to UTF-8 and the markup
// characters are written as character references, so a report stays
// well-formed whatever an adapter name, description or version holds.
// Printable ASCII other than the markup characters passes through unchanged.
#pragma once

#include <string>
#include <string_view>

// Element text: & < > become &amp; &lt; &gt;, a carriage return becomes &#13;
// (a parser would otherwise fold it into a line feed). Characters that XML 1.0
// forbids (C0 controls other than tab, line feed and carriage return) and the
// five bytes that code page 1252 leaves undefined become U+FFFD.
std::string xml_text(std::string_view value);

// Attribute value (for a value written between double quotes): as xml_text,
// and " becomes &quot;, tab, line feed and carriage return become &#9; &#10;
// &#13; (a parser would otherwise turn them into blanks).
std::string xml_attribute(std::string_view value);
