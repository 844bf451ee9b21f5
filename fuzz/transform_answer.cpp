// The transformation answer: read or refused with a service error, and a
// result is never empty.

#include "FuzzTarget.h"
#include "api/APIClient.h"
#include "support/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace pendrel;
    try {
        const TransformResult result = readTransformAnswer(fuzz::bytes(data, size));
        fuzz::require(!result.transformedContent.isEmpty(), "a transform result has content");
    } catch (const Error &) {
    }
    return 0;
}
