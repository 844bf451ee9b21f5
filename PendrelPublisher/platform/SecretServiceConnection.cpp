#include "platform/SecretServiceConnection.h"

#include <libsecret/secret.h>

namespace pendrel {

void dropSecretServiceConnection()
{
    secret_service_disconnect();
}

} // namespace pendrel
