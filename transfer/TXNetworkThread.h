#pragma once
// The one thread of the process on which every asynchronous transfer runs. Made on
// first use and kept for the life of the process; its run loop serves the default
// mode for ever. Nothing on it blocks: name resolution and proxy scripts run on
// helper threads and post their answers back.
#include "base/RunLoop.h"

class TXNetworkThread {
  public:
    // The thread's run loop, starting the thread the first time.
    static base::RunLoop& runLoop();
    static bool isNetworkThread();
    // Whether `loop` is the network thread's (without starting the thread).
    static bool isNetworkRunLoop(const base::RunLoop* loop);
};
