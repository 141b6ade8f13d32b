// Checks of the decrypted texts before the engine sees them: the engine ends the whole process
// on a token table line it cannot parse, and on a keyword piece missing from the token table.
#pragma once

#include <cstddef>
#include <string>

// True when the token table text may be handed to the engine; else false with `reason` set.
bool ValidateTokens(const char* data, std::size_t size, std::string& reason);

// True when every line of the keyword list is one the engine accepts with this token table
// (every piece a symbol of the table; well-formed :boost, #threshold and @NAME parts) and the list
// holds at least one keyword; else false with `reason` set ("keyword line 2: unknown token
// \"FOO\""). The rules are in keyword_check.cpp.
bool ValidateKeywords(const char* keywords, std::size_t keywords_size, const char* tokens,
                      std::size_t tokens_size, std::string& reason);
