#include "check/server_reasons.h"

#include <cstdio>

#include "check/run_deadline.h"
#include "platform/error_words.h"

namespace check {
namespace {

struct KissMeaning {
    const char* code;
    const char* words;
};

// RFC 5905's codes a client meets, and RFC 8915's NAK.
const KissMeaning kKissMeanings[] = {
    {"RATE", "the server asks to be asked less often"},
    {"DENY", "the server denies us access"},
    {"RSTR", "the server restricts access"},
    {"INIT", "the server is not synchronised yet"},
    {"STEP", "the server's clock has just been stepped"},
    {"AUTH", "the server's authentication failed"},
    {"CRYP", "the server's authentication failed"},
    {"NKEY", "the server has no key for us"},
    {"NTSN", "the server did not accept the NTS cookie (NTS NAK)"},
};

std::string WithCode(const std::string& reason, DWORD code) {
    if (code == 0) {
        return reason;
    }
    return reason.empty() ? platform::ErrorReason(code)
                          : reason + " (last-error code " + std::to_string(code) + ")";
}

}  // namespace

std::string KissWords(const std::string& code) {
    for (const KissMeaning& meaning : kKissMeanings) {
        if (code == meaning.code) {
            return meaning.words;
        }
    }
    return "the server sent a Kiss-o'-Death: it will not serve us";
}

void ExplainServers(const CheckSettings& settings, bool lookUpsCut,
                    std::vector<ServerReport>* servers) {
    for (ServerReport& s : *servers) {
        switch (s.status) {
            case ServerStatus::kOk:
            case ServerStatus::kDuplicate:
            case ServerStatus::kRejected:  // the probe said why
                break;
            case ServerStatus::kFalseticker:
                s.reason = "outside the range where the agreeing servers meet";
                break;
            case ServerStatus::kKissOfDeath:
                s.reason = KissWords(s.kissCode);
                break;
            case ServerStatus::kNtsFailed:
                s.reason = s.ntsError;
                break;
            case ServerStatus::kUnresolved:
                if (lookUpsCut && s.error == WSAETIMEDOUT) {
                    s.reason = kTimeLimitRanOut;
                }
                s.reason = WithCode(s.reason, s.error);
                break;
            case ServerStatus::kNoAnswer:
                if (s.reason.empty() && s.error == 0) {
                    char wait[64];
                    std::snprintf(wait, sizeof wait, "nothing came within the time-out of %g s",
                                  settings.timeoutSeconds);
                    s.reason = wait;
                }
                s.reason = WithCode(s.reason, s.error);
                break;
        }
    }
}

}  // namespace check
