#include "cli/check_command.h"

#include <cstdio>

#include "check/clock_check.h"
#include "cli/check_options.h"
#include "cli/check_output.h"
#include "cli/command_action.h"
#include "cli/run_event.h"
#include "cli/system_log.h"
#include "cli/time_service.h"
#include "net/time_client.h"
#include "platform/service_control.h"
#ifdef _WIN32
#include "app/socket_layer.h"
#endif

namespace {

enum CheckExit { kAgreed = 0, kNoAgreement = 2, kUsageError = 3 };

}  // namespace

int RunCheckCommand(int argc, const char* const* argv) {
    CheckOptions options;
    std::string error;
    const CommandAction action = ParseCheckCommand(argc, argv, &options, &error);
    if (action != CommandAction::kRun) {
        return AnswerWithoutRunning(action, kCheckUsage, error, kUsageError);
    }
#ifdef _WIN32
    // Winsock 2.2: the IPv6 look-up is not part of 1.1.
    SocketLayer sockets;
    if (sockets.Start(2, 2) != SocketLayerStart::Started) {
        std::fprintf(stderr, "quillon-query: the socket layer cannot be started\n");
        return options.plugin ? static_cast<int>(kPluginUnknown) : kNoAgreement;
    }
#endif

    const check::CheckResult result = check::RunClockCheck(options.servers, options.settings);
    // Asked only where it is said: JSON's field, and the warning before setting.
    const TimeServiceState timeService = options.json || options.set
                                             ? QueryTimeService(platform::SystemServiceControl())
                                             : TimeServiceState::kUnknown;
    std::string warning;
    check::SetOutcome set;
    if (options.set) {
        if (timeService == TimeServiceState::kRunning) {
            warning = kTimeServiceWarning;
            std::fprintf(stderr, "quillon-query: %s\n", warning.c_str());
        }
        TimeClient client;
        set = check::SetClockFromCheck(result, options.limitStep, options.maxStep, &client);
    }
    std::string failure;
    if (options.eventLog && !WriteSystemLog(DescribeRun(result, set, warning), &failure)) {
        std::fprintf(stderr, "quillon-query: %s\n", failure.c_str());
    }

    if (options.plugin) {
        std::fputs(CheckPluginReport(result, set, options.warn, options.crit).c_str(), stdout);
        return CheckPluginState(result, set, options.warn, options.crit);
    }
    std::fputs(options.json
                   ? CheckJsonReport(result, set, TimeServiceStateName(timeService)).c_str()
                   : CheckTextReport(result, set).c_str(),
               stdout);
    const bool setAsAsked = !options.set || set.kind == check::SetKind::kDone;
    return result.valid && setAsAsked ? kAgreed : kNoAgreement;
}
