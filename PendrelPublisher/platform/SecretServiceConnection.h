#pragma once

namespace pendrel {

// libsecret keeps one Secret Service proxy and one session with the daemon
// for the whole process. A daemon that restarted knows neither, and every
// secret read or written through them fails; dropping them makes the next
// call open fresh ones with whichever daemon answers now.
// Kept apart from Qt code: GLib's headers and Qt's keywords do not mix.
void dropSecretServiceConnection();

} // namespace pendrel
