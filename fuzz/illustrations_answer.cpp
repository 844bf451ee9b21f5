// The illustrations answer: decoded or refused, never a crash.

#include "FuzzTarget.h"
#include "api/IllustrationsResponse.h"
#include "support/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace pendrel;
    try {
        (void)IllustrationsGenerateResponse::decode(fuzz::bytes(data, size));
    } catch (const Error &) {
    }
    return 0;
}
