// sd_kal: speech-dispatcher's output module over the driver (libkal_drv.so,
// loaded at run time from the module's folder or where kal.conf says).
// Started by speech-dispatcher as "sd_kal configfile".
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "sdmodule/protocol.h"

int main(int argc, char** argv) {
    // A server that went away must not kill us mid-write: the input ends instead.
    signal(SIGPIPE, SIG_IGN);
    Module module(stdin, STDOUT_FILENO, argc > 1 ? argv[1] : "");
    return module.Run();
}
