#pragma once

// The threads that keep time with the line (grab loops, camera event callbacks, and in the
// simulated build the line itself) take the CPU ahead of everything else on the machine
// where the system allows it: each does a few milliseconds of work per product, and a
// frame or an edge handled late is a product cut wrongly or a pulse on the wrong box.
namespace CapturePriority {

// Puts the calling thread on the real-time scheduler (SCHED_FIFO) when permitted (root or
// CAP_SYS_NICE) and not switched off (GLUEBOX_REALTIME=0), else leaves it as it is. Says once per process which it was. Cheap to
// call again on a thread that has it already.
void raiseCurrentThread();

} // namespace CapturePriority
