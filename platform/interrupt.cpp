#include "platform/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include "base/stream.h"

namespace glx::platform {

namespace {

void onInterrupt(int sig) {
    removeTemporaryFiles();
    ::_exit(128 + sig);
}

}  // namespace

void installInterruptCleanup() {
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&sa.sa_mask, sig);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
    // A write past the file size limit then fails like a full disk: the
    // error report names the file, and its temporary file goes.
    ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace glx::platform
