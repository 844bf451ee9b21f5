// The browser sign-in poll answer and the session a completed one carries.

#include "FuzzTarget.h"
#include "auth/NativeAuth.h"
#include "support/Error.h"
#include "support/JsonDates.h"
#include "support/JsonRead.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace pendrel;
    try {
        const NativeBrowserAuthPollResponse answer = NativeBrowserAuthPollResponse::fromJson(
            json::parseDocument(fuzz::bytes(data, size)), JsonDates::iso8601());
        if (answer.completedSession())
            fuzz::require(answer.user && answer.session, "a completed session has its user and tokens");
    } catch (const Error &) {
    }
    return 0;
}
