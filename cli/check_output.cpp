#include "cli/check_output.h"

#include <cstdio>

#include "check/agreed_time.h"
#include "cli/safe_text.h"
#include "nts/certificate_window.h"

using check::CheckResult;
using check::ServerReport;
using check::ServerStatus;
using check::SetKind;
using check::SetOutcome;

namespace {

// The program never calls setlocale: printf's numbers always have a '.' here.
std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Seconds(double value) {
    return Format("%+.6f", value) + " s";
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text + ' ';
}

std::string StatusText(const ServerReport& server) {
    std::string status = check::StatusName(server.status);
    if (server.status == ServerStatus::kKissOfDeath) {
        status += " " + PrintableText(server.kissCode);
    } else if (server.status == ServerStatus::kDuplicate) {
        status += " of " + PrintableText(server.duplicateOf);
    }
    if (!server.reason.empty()) {
        status += " (" + PrintableText(server.reason) + ")";
    }
    if (server.ntpElsewhere) {
        status += ", NTP at " + server.ntpAddress + " port " + std::to_string(server.ntpPort);
    }
    return status;
}

std::string Authentication(const CheckResult& result) {
    return std::string(result.nts ? ", authenticated by NTS" : "") +
           (result.agreedCertificateTime ? ", certificates judged at the agreed time" : "");
}

std::string Summary(const CheckResult& result) {
    if (result.answered == 0) {
        return "no result: no server gave a usable answer";
    }
    const std::string agreeing = std::to_string(result.agree) + " of " +
                                 std::to_string(result.answered) + " answering servers agree";
    if (result.agree == 0) {
        return "no result: the " + std::to_string(result.answered) +
               " answering servers fall into groups that disagree, none a majority";
    }
    if (!result.majority) {
        return "no result: only " + agreeing + ", not a majority";
    }
    if (!result.refusal.empty()) {
        return "no result: " + result.refusal;
    }
    if (!result.valid) {
        return "no result: " + agreeing + ", but " + std::to_string(result.minAgree) + " of the " +
               std::to_string(result.asked) + " servers asked must";
    }
    return "offset " + Seconds(result.offset) + " +/- " + Format("%.6f", result.errorBound) +
           " s; " + agreeing + Authentication(result);
}

std::string SetLine(const SetOutcome& set) {
    switch (set.kind) {
        case SetKind::kNotRequested:
            return "";
        case SetKind::kDone:
            return "clock set\n";
        case SetKind::kRefused:
            return "clock not set: " + set.reason + "\n";
        case SetKind::kFailed:
            return "setting the clock failed: " + set.reason + "\n";
    }
    return "";
}

std::string JsonNumber(double value) {
    return Format("%.9f", value);
}

std::string Iso(bool known, std::int64_t unixTime) {
    return known ? JsonString(nts::UtcIsoText(unixTime)) : "null";
}

std::string JsonServer(const ServerReport& s) {
    const check::Measurement& m = s.best;
    const auto measured = [&s](const std::string& value) {
        return s.measured && s.status != ServerStatus::kKissOfDeath ? value : "null";
    };
    const auto text = [](const std::string& value) {
        return value.empty() ? std::string("null") : JsonString(value);
    };
    return "{\"name\": " + JsonString(s.name) +
           ", \"address\": " + (s.address.empty() ? "null" : JsonString(s.address)) +
           ", \"status\": " + JsonString(check::StatusName(s.status)) + ", \"kod\": " +
           (s.status == ServerStatus::kKissOfDeath ? JsonString(s.kissCode) : "null") +
           ", \"offset\": " + measured(JsonNumber(m.offset)) +
           ", \"delay\": " + measured(JsonNumber(m.delay)) +
           ", \"stratum\": " + measured(std::to_string(m.header.stratum)) +
           ", \"leap\": " + measured(std::to_string(m.header.leapIndicator)) +
           ", \"root_delay\": " + measured(JsonNumber(m.header.rootDelay)) +
           ", \"root_dispersion\": " + measured(JsonNumber(m.header.rootDispersion)) +
           ", \"refid\": " + measured(JsonString(check::ReferenceIdText(m.header))) +
           ", \"error_bound\": " + measured(JsonNumber(s.errorBound)) +
           ", \"reason\": " + text(s.reason) + ", \"duplicate_of\": " + text(s.duplicateOf) +
           ", \"samples\": " + std::to_string(s.samples) +
           ", \"authenticated\": " + (s.authenticated ? "true" : "false") +
           ", \"nts_error\": " + text(s.ntsError) +
           ", \"certificate_valid_from\": " + Iso(s.certificate.read, s.certificate.validFrom) +
           ", \"certificate_valid_until\": " + Iso(s.certificate.read, s.certificate.validUntil) +
           ", \"ntp_address\": " + text(s.ntpAddress) +
           ", \"ntp_port\": " + (s.ntpPort != 0 ? std::to_string(s.ntpPort) : "null") + "}";
}

const char* PluginStateName(PluginState state) {
    switch (state) {
        case kPluginOk:
            return "OK";
        case kPluginWarning:
            return "WARNING";
        case kPluginCritical:
            return "CRITICAL";
        case kPluginUnknown:
            break;
    }
    return "UNKNOWN";
}

}  // namespace

std::string CheckTextReport(const CheckResult& result, const SetOutcome& set) {
    std::string text = Padded("server", 24) + Padded("address", 24) + Padded("offset", 16) +
                       Padded("delay", 12) + Padded("stratum", 7) + "status\n";
    for (const ServerReport& s : result.servers) {
        const bool measured = s.measured && s.status != ServerStatus::kKissOfDeath;
        text += Padded(PrintableText(s.name), 24) +
                Padded(s.address.empty() ? "-" : s.address, 24) +
                Padded(measured ? Seconds(s.best.offset) : "-", 16) +
                Padded(measured ? Format("%.6f", s.best.delay) + " s" : "-", 12) +
                Padded(measured ? std::to_string(s.best.header.stratum) : "-", 7) + StatusText(s) +
                "\n";
    }
    if (result.localClockBeforeRelease) {
        text += check::LocalClockBeforeReleaseText(result) + "\n";
    }
    return text + CheckSummaryLines(result, set);
}

std::string CheckSummaryLines(const CheckResult& result, const SetOutcome& set) {
    return Summary(result) + "\n" + SetLine(set);
}

std::string CheckJsonReport(const CheckResult& result, const SetOutcome& set,
                            const char* windowsTimeService) {
    std::string servers;
    for (const ServerReport& s : result.servers) {
        servers += (servers.empty() ? "\n    " : ",\n    ") + JsonServer(s);
    }
    return std::string("{\"offset\": ") + (result.valid ? JsonNumber(result.offset) : "null") +
           ", \"error_bound\": " + (result.valid ? JsonNumber(result.errorBound) : "null") +
           ", \"agree\": " + std::to_string(result.agree) +
           ", \"answered\": " + std::to_string(result.answered) +
           ", \"asked\": " + std::to_string(result.asked) +
           ", \"min_agree\": " + std::to_string(result.minAgree) +
           ", \"valid\": " + (result.valid ? "true" : "false") +
           ", \"nts\": " + (result.nts ? "true" : "false") + ", \"certificate_time\": " +
           (!result.nts                    ? "null"
            : result.agreedCertificateTime ? "\"agreed\""
                                           : "\"local\"") +
           ", \"release_date\": " + Iso(true, result.releaseDate) +
           ", \"set\": " + JsonString(check::SetKindName(set.kind)) +
           ", \"set_reason\": " + (set.reason.empty() ? "null" : JsonString(set.reason)) +
           ", \"windows_time_service\": " +
           (windowsTimeService == nullptr ? "null" : JsonString(windowsTimeService)) +
           ", \"servers\": [" + servers + "\n]}\n";
}

PluginState CheckPluginState(const CheckResult& result, const SetOutcome& set, double warn,
                             double crit) {
    // No usable answer, or no agreement, is an outage of the time service: monitoring
    // setups often stay silent on UNKNOWN, which is kept for a command line that is wrong.
    if (!result.valid) {
        return kPluginCritical;  // no result
    }
    if (set.kind == SetKind::kRefused || set.kind == SetKind::kFailed) {
        return kPluginCritical;
    }
    const double size = result.offset < 0 ? -result.offset : result.offset;
    return size > crit ? kPluginCritical : size > warn ? kPluginWarning : kPluginOk;
}

std::string CheckPluginReport(const CheckResult& result, const SetOutcome& set, double warn,
                              double crit) {
    const PluginState state = CheckPluginState(result, set, warn, crit);
    std::string line = std::string("NTP ") + PluginStateName(state) + ": ";
    if (result.valid) {
        line += "Offset " + Format("%.6f", result.offset) + " secs, " +
                std::to_string(result.agree) + " of " + std::to_string(result.answered) +
                " servers agree" + Authentication(result);
        if (set.kind != SetKind::kNotRequested) {
            line += std::string(", clock set: ") + check::SetKindName(set.kind);
        }
        line += "|offset=" + Format("%.6f", result.offset) + "s;" + PlainDecimal(warn) + ";" +
                PlainDecimal(crit) + ";";
    } else {
        line += Summary(result);
    }
    return line + "\n" + CheckTextReport(result, set);
}
