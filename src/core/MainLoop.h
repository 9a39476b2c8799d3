// The parts of the main loop that tests drive on their own.
#pragma once

#include "core/Schedule.h"
#include "core/ServerMain.h"

// Runs the periodic tasks that `schedule` finds due now. The schedule reads the monotonic
// clock, so a step of the wall clock (by an administrator or a time daemon) neither stops nor
// hurries housekeeping; only the log's time prefix follows the wall clock.
void runDueTasks(ServerContext& context, Schedule& schedule);
