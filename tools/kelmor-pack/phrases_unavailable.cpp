// Builds without SentencePiece (it is not available for mingw-w64): phrases cannot be turned
// into pieces here.
#include "pack.h"

const bool kPhrasesSupported = false;

bool PhrasesToKeywords(const std::string&, const std::string&, std::string*, std::string* reason) {
    if (reason != nullptr) {
        *reason =
            "--phrases is not available in this build of kelmor-pack (no SentencePiece); give "
            "--keywords with the pieces, or run kelmor-pack on Linux";
    }
    return false;
}
