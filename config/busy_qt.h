// Runs a blocking core call (register writes, a link check) on a worker
// thread while the window thread waits for it: the window keeps repainting
// and message boxes the call raises through the host still appear, but the
// operator's input waits, as if the call ran on the window thread itself.
#pragma once

#include <functional>

class QObject;

namespace chronavel {

// Shows the busy cursor, runs work on a worker thread and returns when it has
// ended. An exception from work is thrown again here.
void RunOffWindowThread(const std::function<void()>& work);

// Runs work on a worker thread and returns at once: the operator goes on
// working. done runs on the window thread once work has ended, as an event
// of context, which must not be destroyed before WaitForBlockingWork says
// the work is over.
void RunInBackground(QObject* context, std::function<void()> work, std::function<void()> done);

// True while RunOffWindowThread waits (windows refuse to close meanwhile).
bool WindowThreadBusy();

// Returns once no work handed to RunOffWindowThread or RunInBackground is
// running any more,
// handling the window thread's events meanwhile (the work may need it for a
// message box). Safe from a handler that runs inside RunOffWindowThread's
// own wait: it waits for the work, not for that wait to unwind.
void WaitForBlockingWork();

} // namespace chronavel
