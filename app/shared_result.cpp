#include "app/shared_result.h"

SntpResult SharedResult::Copy() const {
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_result;
}

void SharedResult::Publish(const SntpResult& result) {
    const std::lock_guard<std::mutex> lock(m_lock);
    m_result = result;
}

BOOL SharedResult::SetClockFromOffset(TimeClient* client) {
    const std::lock_guard<std::mutex> lock(m_lock);
    NtpTimestamp corrected;
    if (!CorrectedClockTime(m_result.m_dClockOffset, &corrected) || !client->SetClock(&corrected)) {
        return FALSE;
    }
    m_result.m_dClockOffset = 0.0;
    return TRUE;
}
