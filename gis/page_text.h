// Texts of the pages and styles the commands write: any name as UTF-8, escaped for HTML and
// XML, and files inlined as base64.
#pragma once

#include <string>

namespace gis {

// Text as UTF-8: UTF-8 as it is; other bytes (a file name typed in Latin-1, kept exactly by
// the run record) read as Latin-1.
std::string as_utf8(const std::string& s);

// Text made safe for HTML or XML content and attribute values, in UTF-8.
std::string escape_markup(const std::string& text);

// Bytes as base64 (RFC 4648, padded), for a data: URL.
std::string base64(const std::string& bytes);

}  // namespace gis
