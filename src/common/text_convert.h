// Conversions between UTF-8, UTF-16 and the platform's narrow encoding, built on the platform's
// converters. Each answers the empty string when the converter reports nothing to convert or
// fails.
#pragma once

#include <string>

std::u16string Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::u16string& text);
std::string WideToAcp(const std::u16string& text);
