#include "app/shared_result.h"

SntpResult SharedResult::Copy() const {
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_result;
}

BOOL SharedResult::Measure(TimeClient* client, const char* server, int port, SntpResult* outcome) {
    unsigned stepsBefore = 0;
    bool stepUnderWay = false;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        stepsBefore = m_nClockSteps;
        stepUnderWay = m_nSettingsUnderWay != 0;
    }
    *outcome = SntpResult();
    BOOL succeeded = client->SntpQuery(server, outcome, port);
    DWORD reason = platform::LastError();

    const std::lock_guard<std::mutex> lock(m_lock);
    if (succeeded && (stepUnderWay || m_nSettingsUnderWay != 0 || m_nClockSteps != stepsBefore)) {
        // T1 and T4 may lie on either side of the step: the offset is not the clock's.
        succeeded = FALSE;
        reason = ERROR_OPERATION_ABORTED;
    }
    if (succeeded) {
        m_result = *outcome;
        ++m_nMeasurements;
    } else if (!outcome->m_tsDestination.IsZero()) {
        m_result.m_tsDestination = outcome->m_tsDestination;
    }
    platform::SetLastError(reason);
    return succeeded;
}

BOOL SharedResult::SetClockFromOffset(TimeClient* client) {
    double offset = 0.0;
    unsigned measurement = 0;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        offset = m_result.m_dClockOffset;
        m_result.m_dClockOffset = 0.0;
        measurement = m_nMeasurements;
        ++m_nSettingsUnderWay;
    }
    NtpTimestamp corrected;
    const BOOL set = CorrectedClockTime(offset, &corrected) && client->SetClock(&corrected);
    const DWORD reason = platform::LastError();

    const std::lock_guard<std::mutex> lock(m_lock);
    --m_nSettingsUnderWay;
    if (set) {
        ++m_nClockSteps;
    } else if (offset != 0.0 && m_nMeasurements == measurement) {
        // Only one caller at a time holds an offset that is not 0: putting back what
        // another caller took (0) would lose it.
        m_result.m_dClockOffset = offset;
    }
    platform::SetLastError(reason);
    return set;
}
