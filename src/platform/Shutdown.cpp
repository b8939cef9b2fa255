// The exit procedure of every program.
#include "platform/Shutdown.h"

#include <unistd.h>
#include <cstdio>
#include <iostream>

#include "platform/Dispatcher.h"
#include "platform/WorkerThread.h"

namespace vexo {

void ExitProgram(int status, std::chrono::milliseconds workerWait) {
    TerminateAllWorkers();
    if (auto dispatcher = CurrentDispatcher()) {
        dispatcher->Close();
    }
    // Workers that do not end in time (a fetch in progress) simply end with the process.
    WaitForWorkers(workerWait);
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

}  // namespace vexo
