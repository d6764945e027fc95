// syslog(3): one record per run, its lines joined into one, at the event's priority.
#include <syslog.h>

#include <cstdio>

#include "cli/system_log.h"

bool WriteSystemLog(const RunEvent& event, std::string*) {
    std::string line = event.text;
    while (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    for (std::size_t at = line.find('\n'); at != std::string::npos; at = line.find('\n', at)) {
        line.replace(at, 1, "; ");
    }
    const int priority = event.level == EventLevel::kError     ? LOG_ERR
                         : event.level == EventLevel::kWarning ? LOG_WARNING
                                                               : LOG_INFO;
    openlog("quillon-query", LOG_PID, LOG_USER);
    syslog(priority, "%s", line.c_str());
    closelog();
    return true;
}

int ChangeEventSource(EventSourceChange) {
    std::puts("quillon-query: syslog needs no event source: nothing to do");
    return 0;
}
