#pragma once
// The single-byte Cyrillic code page (Windows-1251) of the class-names file,
// both ways, without any toolkit: the program's texts are UTF-8.

#include <string>
#include <string_view>

// UTF-8 text in Windows-1251, one byte a character; a character the code
// page lacks, or a byte that is no well-formed UTF-8, becomes '?'.
std::string Utf8ToCp1251(std::string_view text);

// Windows-1251 bytes as UTF-8 text; every byte is one character (0x98,
// unassigned, stands for the control character U+0098).
std::string Cp1251ToUtf8(std::string_view bytes);

// Decodes the UTF-8 character at s[i], advancing i; false when the bytes
// there are no well-formed character (overlong forms, surrogates and values
// beyond U+10FFFF included).
bool NextUtf8(std::string_view s, std::size_t& i, char32_t& c);
