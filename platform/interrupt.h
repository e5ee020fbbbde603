// Interrupted runs leave no litter: on SIGINT, SIGTERM or SIGHUP the
// temporary files of unfinished safe writes are removed and the process
// ends with 128 + the signal number. Files under their final names are
// never half-written, since they appear only by renaming a finished file.
// SIGXFSZ is ignored, so a write past the file size limit fails with "File
// too large" through the same error path.
#pragma once

namespace glx::platform {

void installInterruptCleanup();

}  // namespace glx::platform
