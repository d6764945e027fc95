// What an --event-log run records (event id and level by its outcome), and how the Windows
// Time service's state is read through a stand-in for the service manager.
#include "cli/run_event.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/time_service.h"
#include "platform/platform.h"
#include "platform/service_control.h"

namespace {

using check::SetKind;

TEST(RunEvent, TheOutcomeGivesTheIdAndLevel) {
    struct Row {
        bool valid;
        SetKind set;
        RunEventId id;
        EventLevel level;
    };
    const Row rows[] = {
        {true, SetKind::kNotRequested, RunEventId::kAgreed, EventLevel::kInformation},
        {true, SetKind::kDone, RunEventId::kClockSet, EventLevel::kInformation},
        {true, SetKind::kRefused, RunEventId::kSetRefused, EventLevel::kWarning},
        {true, SetKind::kFailed, RunEventId::kSetFailed, EventLevel::kError},
        {false, SetKind::kNotRequested, RunEventId::kNoResult, EventLevel::kError},
        // --set refuses an invalid result: that is no result, not a refused correction.
        {false, SetKind::kRefused, RunEventId::kNoResult, EventLevel::kError},
    };
    for (const Row& row : rows) {
        check::CheckResult result;
        result.valid = result.majority = row.valid;
        result.answered = result.agree = result.asked = result.minAgree = 1;
        check::SetOutcome set;
        set.kind = row.set;
        set.reason = row.set == SetKind::kFailed ? "last-error code 1314" : "";
        const RunEvent event = DescribeRun(result, set, "the service warns");
        SCOPED_TRACE(event.text);
        EXPECT_EQ(event.id, row.id);
        EXPECT_EQ(event.level, row.level);
        EXPECT_EQ(event.text.rfind(row.valid ? "offset " : "no result: ", 0), 0u);
        EXPECT_EQ(event.text.find("last-error code 1314\n") != std::string::npos,
                  row.set == SetKind::kFailed);
        EXPECT_EQ(event.text.substr(event.text.size() - 19), "\nthe service warns\n");
    }
}

// W32Time as the stand-in's manager has it; each handle it gives out must come back.
class ServiceManagerStandIn final : public platform::ServiceControlApi {
public:
    bool managerOpens = true;
    DWORD serviceError = 0;  // the last error when the service does not open
    bool queryWorks = true;
    DWORD state = 4;  // SERVICE_RUNNING
    std::set<void*> open;

    void* OpenManager() override { return managerOpens ? Give(&manager_) : Fail(5); }
    void* OpenNamedService(void* manager, const char* name) override {
        EXPECT_TRUE(open.count(manager));
        EXPECT_STREQ(name, "W32Time");
        return serviceError == 0 ? Give(&service_) : Fail(serviceError);
    }
    BOOL QueryState(void* service, DWORD* current) override {
        EXPECT_EQ(service, &service_);
        *current = state;
        return queryWorks ? TRUE : FALSE;
    }
    void Close(void* handle) override { EXPECT_EQ(open.erase(handle), 1u); }

private:
    void* Give(int* handle) { return *open.insert(handle).first; }
    static void* Fail(DWORD error) {
        platform::SetLastError(error);
        return nullptr;
    }
    int manager_ = 0;
    int service_ = 0;
};

TEST(TimeService, TheManagersAnswerGivesTheState) {
    struct Row {
        const char* what;
        bool managerOpens;
        DWORD serviceError;
        bool queryWorks;
        DWORD state;
        const char* name;  // nullptr: JSON null
    };
    const Row rows[] = {
        {"running", true, 0, true, 4, "running"},
        {"starting", true, 0, true, 2, "running"},
        {"stopped", true, 0, true, 1, "stopped"},
        {"no such service", true, 1060, true, 4, "absent"},
        {"no right to open it", true, 5, true, 4, nullptr},
        {"no manager", false, 0, true, 4, nullptr},
        {"status unknown", true, 0, false, 1, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ServiceManagerStandIn manager;
        manager.managerOpens = row.managerOpens;
        manager.serviceError = row.serviceError;
        manager.queryWorks = row.queryWorks;
        manager.state = row.state;
        const char* name = TimeServiceStateName(QueryTimeService(&manager));
        EXPECT_STREQ(name == nullptr ? "null" : name, row.name == nullptr ? "null" : row.name);
        EXPECT_TRUE(manager.open.empty());
    }
    EXPECT_EQ(QueryTimeService(nullptr), TimeServiceState::kNoServiceManager);
}

}  // namespace
