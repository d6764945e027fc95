#include "cli/check_command.h"

#include <cstdio>

#include "check/clock_check.h"
#include "cli/check_options.h"
#include "cli/check_output.h"
#include "cli/command_action.h"
#include "cli/run_event.h"
#include "cli/safe_text.h"
#include "cli/system_log.h"
#include "cli/time_service.h"
#include "net/deadline.h"
#include "net/time_client.h"
#include "nts/ca_file.h"
#include "platform/service_control.h"
#ifdef _WIN32
#include "app/socket_layer.h"
#endif

namespace {

enum CheckExit { kAgreed = 0, kNoAgreement = 2, kUsageError = 3 };

// A command line or configuration that cannot run: one line on standard error and, for a
// monitoring system, its UNKNOWN line on standard output.
int RefuseToRun(bool plugin, const std::string& error) {
    if (plugin) {
        std::printf("NTP UNKNOWN: %s\n", PrintableText(error).c_str());
    }
    return AnswerWithoutRunning(CommandAction::kUsageError, kCheckUsage, error, kUsageError);
}

// What can be known to be wrong before any traffic.
std::string ConfigurationProblem(const CheckOptions& options) {
    if (options.settings.nts && !options.settings.caFile.empty()) {
        return nts::CaFileProblem(options.settings.caFile);
    }
    return "";
}

}  // namespace

int RunCheckCommand(int argc, const char* const* argv) {
    CheckOptions options;
    std::string error;
    const CommandAction action = ParseCheckCommand(argc, argv, &options, &error);
    if (action == CommandAction::kUsageError) {
        return RefuseToRun(AsksForPluginOutput(argc, argv), error);
    }
    if (action != CommandAction::kRun) {
        return AnswerWithoutRunning(action, kCheckUsage, error, kUsageError);
    }
    if (options.timeLimitSeconds > 0) {
        options.settings.runEnd = DeadlineIn(options.timeLimitSeconds);
    }
    const std::string problem = ConfigurationProblem(options);
    if (!problem.empty()) {
        return RefuseToRun(options.plugin, problem);
    }
#ifdef _WIN32
    // Winsock 2.2: the IPv6 look-up is not part of 1.1.
    SocketLayer sockets;
    if (sockets.Start(2, 2) != SocketLayerStart::Started) {
        if (options.plugin) {
            std::puts("NTP UNKNOWN: the socket layer cannot be started");
        }
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
    if (options.set && Deadline::clock::now() >= options.settings.runEnd) {
        set.kind = check::SetKind::kRefused;
        set.reason = "the time limit ran out before the clock could be set";
    } else if (options.set) {
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
