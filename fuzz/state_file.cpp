// The state file reader: any bytes either decode or throw DecodingError, and
// what decodes is written back and read again unchanged (a load and a save
// must never alter the user's history).

#include "FuzzTarget.h"
#include "state/PersistedState.h"
#include "support/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace pendrel;
    PersistedState state;
    try {
        state = PersistedState::decode(fuzz::bytes(data, size));
    } catch (const DecodingError &) {
        return 0;
    }
    const QByteArray written = state.encode();
    PersistedState again;
    try {
        again = PersistedState::decode(written);
    } catch (const DecodingError &) {
        fuzz::require(false, "a saved state file decodes");
    }
    fuzz::require(again == state, "a saved state reads back equal");
    fuzz::require(again.encode() == written, "saving is stable");
    return 0;
}
