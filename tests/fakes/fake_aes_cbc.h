// Control of the fake AES-CBC layer: it really encrypts and decrypts (aes256.h), records each
// operation, counts live handles and fails any chosen step on demand.
#pragma once

#include <string>
#include <vector>

#include "platform/aes_cbc.h"

namespace fake {

struct AesCbcState {
    enum class Step {
        None,
        OpenProvider,
        SetCbcChaining,
        GenerateKey,
        DecryptSizeQuery,
        Decrypt,
        EncryptSizeQuery,
        Encrypt,
        GenRandom,
    };
    Step fail_step = Step::None;
    int fail_occurrence = 1;  // which call of fail_step fails: 1 is the first

    // Every operation, in order: "OpenProvider", "SetCbcChaining", "GenerateKey",
    // "DecryptSizeQuery", "Decrypt", "EncryptSizeQuery", "Encrypt", "DestroyKey",
    // "CloseProvider", "GenRandom".
    std::vector<std::string> calls;
    int providers_open = 0;
    int keys_live = 0;
    int bad_handles = 0;  // handles used or released that were not live
    int key_size = 0;     // secret size of the last generated key
};
AesCbcState& AesCbc();

}  // namespace fake
