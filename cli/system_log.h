// The system's log, where an unattended run leaves its record: the Application event log
// (source Quillon) on Windows, syslog (ident quillon-query) elsewhere.
#pragma once

#include <string>

#include "cli/run_event.h"

// Writes the run's one record; false with the reason in *failure when it could not be
// written (an unregistered source still takes events; syslog(3) never says).
bool WriteSystemLog(const RunEvent& event, std::string* failure);

enum class EventSourceChange { kRegister, kUnregister };

// quillon-query --register-event-source / --unregister-event-source: writes or removes the
// source's registry key (Event Viewer then finds the message table in quillon-query.exe),
// says so, and gives the exit status: 0 done, 1 failed.
int ChangeEventSource(EventSourceChange change);
