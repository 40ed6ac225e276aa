// sd_kal: speech-dispatcher's output module over the driver (libkal_drv.so,
// loaded at run time from the module's folder or where kal.conf says).
// Started by speech-dispatcher as "sd_kal configfile".
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "sdmodule/protocol.h"

int main(int argc, char** argv) {
    // A server that went away must not kill us mid-write: the input ends instead.
    signal(SIGPIPE, SIG_IGN);
    // Our standard error is speech-dispatcher's log of the module: the place
    // for the eSpeak NG engine's reasons, which it gives nowhere unless told.
    // A KAL_ESPEAK_REPORT of the user's wins; espeakengine.ini's "report" does
    // not, as the environment overrides the file.
    setenv("KAL_ESPEAK_REPORT", "stderr", 0);
    Module module(stdin, STDOUT_FILENO, argc > 1 ? argv[1] : "");
    return module.Run();
}
