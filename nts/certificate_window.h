// When a server's certificate chain is valid: the latest not-before and the earliest
// not-after of its certificates. A chain whose window the local clock lies outside of may
// still be believed at the time the servers agree on (check/agreed_time.h decides); this is
// what the key exchange keeps of it for that.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nts {

// Whose clock judges a certificate's validity period.
enum class CertificateTime {
    kLocal,   // the local clock's: a chain outside its window fails the key exchange
    kAgreed,  // the agreed time's: judged again once the servers agree
};

struct CertificateWindow {
    bool read = false;            // a verified chain's window was taken
    std::int64_t validFrom = 0;   // Unix seconds, UTC
    std::int64_t validUntil = 0;  // Unix seconds, UTC
    // The local clock lay outside the window when the chain was verified: believed only if
    // the agreed time lies inside it.
    bool outsideLocalClock = false;
    // Windows' chain engine judged the chain: the certificates the server sent (DER, leaf
    // first) and the name asked, for the engine to judge again at the agreed time.
    std::vector<std::vector<std::uint8_t>> engineChain;
    std::string host;
    bool hostIsAddress = false;

    void Narrow(std::int64_t from, std::int64_t until);
    bool Holds(std::int64_t unixTime) const {
        return read && validFrom <= unixTime && unixTime <= validUntil;
    }
};

// Whether the chain is valid at unixTime: inside its window and, where Windows' chain engine
// judged it, built again by the engine at that time free of errors. false with *error.
bool ChainValidAt(const CertificateWindow& window, std::int64_t unixTime, std::string* error);

// "certificate valid from 2026-11-30 to 2027-02-28 UTC"
std::string WindowText(const CertificateWindow& window);
// A local clock outside the window, in words: "certificate valid from ... UTC, but the local
// clock reads 2025-11-02 00:12 UTC: the local clock is probably wrong".
std::string LocalClockOutsideText(const CertificateWindow& window, std::int64_t localClock);

// The local clock, in Unix seconds.
std::int64_t LocalUnixTime();
// Seconds since 1970 of a UTC calendar time.
std::int64_t UnixTimeOf(int year, int month, int day, int hour, int minute, int second);
// "2026-11-30", "2026-11-30 00:12 UTC", "2026-11-30T00:12:05Z".
std::string UtcDateText(std::int64_t unixTime);
std::string UtcMinuteText(std::int64_t unixTime);
std::string UtcIsoText(std::int64_t unixTime);

#ifdef _WIN32
// The chain engine's judgement at unixTime (system_trust_win32.cpp).
bool SystemTrustsChainAt(const CertificateWindow& window, std::int64_t unixTime,
                         std::string* error);
#endif

}  // namespace nts
