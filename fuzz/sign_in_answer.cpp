// The sign-in answer: a session with its tokens, or DecodingError.

#include "FuzzTarget.h"
#include "auth/AuthManager.h"
#include "support/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace pendrel;
    const QByteArray body = fuzz::bytes(data, size);
    try {
        (void)readSignInAnswer(body);
    } catch (const Error &) {
    }
    (void)identityErrorMessage(body);
    return 0;
}
