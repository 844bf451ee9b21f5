#pragma once

namespace pendrel {

// Turns SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl+C) into
// QCoreApplication::quit(), so that the normal shutdown runs: the state
// file's waiting save is written, or its failure said on stderr, instead of
// being lost with the process. Call once on the main thread, after the
// application object exists; the handler only writes a byte to a pipe.
// Returns false when the pipe or a handler cannot be set up.
bool quitOnTerminationSignals();

} // namespace pendrel
