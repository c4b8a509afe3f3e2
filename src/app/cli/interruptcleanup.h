#pragma once

#include "render/outputfile.h"

// The tool's temporary files are removed when SIGINT, SIGTERM or SIGHUP stops
// it (Ctrl+C, `timeout`, a closed terminal): an interrupted export of a long
// run would otherwise leave hundreds of megabytes beside the output. The
// signal then ends the tool as it would have without the handler.
void installInterruptCleanup();

// The watch that registers each temporary file for removal while it exists.
// Safe to use from several threads.
const TemporaryFileWatch &interruptCleanupWatch();
