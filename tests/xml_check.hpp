// Checking documents with xmllint (Debian's libxml2-utils).
#pragma once

#include <cstdlib>
#include <string>

inline bool xmllint_available() { return std::system("xmllint --version >/dev/null 2>&1") == 0; }

inline bool well_formed(const std::string& path) {
    return std::system(("xmllint --noout '" + path + "' 2>/dev/null").c_str()) == 0;
}

// True when the document at `path` is valid against the program's schema.
inline bool schema_valid(const std::string& path) {
    return std::system(("xmllint --noout --schema '" OBJ2XML_SCHEMA "' '" + path + "' 2>/dev/null").c_str()) == 0;
}
