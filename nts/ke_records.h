// The records of an NTS key exchange (RFC 8915, section 4): the request this client sends,
// and a parser of the server's response that takes the bytes as TLS hands them over, in
// pieces that may split or join records. Everything a server may send is bounded: the
// response's size, its number of records, and the number and size of its cookies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nts/nts_fields.h"

namespace nts {

constexpr int kKeDefaultPort = 4460;
constexpr std::uint16_t kNextProtocolNtpV4 = 0;
constexpr std::uint16_t kAeadAesSivCmac256 = 15;

// Cookies: at most kMaxCookies are kept (more are read and dropped), each of 1 to
// kMaxCookieSize bytes (nts/nts_fields.h: what a request can carry).
constexpr std::size_t kMaxResponseBytes = 64 * 1024;
constexpr int kMaxResponseRecords = 64;
constexpr std::size_t kMaxServerNameBytes = 255;

enum class KeRecordType : std::uint16_t {
    kEndOfMessage = 0,
    kNextProtocol = 1,
    kError = 2,
    kWarning = 3,
    kAeadAlgorithm = 4,
    kNewCookie = 5,
    kNtpServer = 6,
    kNtpPort = 7,
};
constexpr std::uint16_t kCriticalBit = 0x8000;

// Next Protocol NTPv4, AEAD_AES_SIV_CMAC_256 and End of Message, each marked critical.
std::vector<std::uint8_t> BuildKeRequest();

struct KeResponse {
    std::vector<std::vector<std::uint8_t>> cookies;
    std::string server;  // empty: the key exchange's own host
    int port = 0;        // 0: not given
};

enum class KeFailure {
    kNone,
    kErrorRecord,            // code: the error code
    kWarningRecord,          // code: the warning code
    kUnknownCriticalRecord,  // code: the record type
    kNoCookies,
    kBadAead,          // code: the algorithm chosen, -1 none
    kBadNextProtocol,  // code: the protocol chosen, -1 none
    kMalformedRecord,  // code: the record type, -1 a record cut short
    kTooLarge,
    kTooManyRecords,
    kClosedEarly,  // the connection ended between two records, before End of Message
};

class KeResponseParser {
public:
    enum class Progress { kMore, kDone, kFailed };

    KeResponseParser() = default;
    ~KeResponseParser();  // wipes the cookies and the bytes read
    KeResponseParser(const KeResponseParser&) = delete;
    KeResponseParser& operator=(const KeResponseParser&) = delete;

    // Takes the next bytes of the response. Once kDone or kFailed, further bytes are ignored
    // and the result stays.
    Progress Feed(const std::uint8_t* data, std::size_t size);
    // The server closed the connection: a response without End of Message has failed.
    Progress EndOfStream();

    Progress State() const { return m_progress; }
    // Complete once State() is kDone.
    const KeResponse& Response() const { return m_response; }
    KeFailure Failure() const { return m_failure; }
    int FailureCode() const { return m_failureCode; }
    // Why the response was refused, for people: "the server sent error 1 (bad request)".
    std::string FailureText() const;

private:
    Progress Fail(KeFailure failure, int code, std::string detail = {});
    // Takes one whole record; false when it ended the response either way.
    bool TakeRecord(std::uint16_t word, const std::uint8_t* body, std::size_t size);
    Progress Finish();

    Progress m_progress = Progress::kMore;
    std::vector<std::uint8_t> m_pending;  // the start of a record not yet complete
    std::size_t m_received = 0;
    int m_records = 0;
    bool m_bNextProtocol = false;
    bool m_bAead = false;
    bool m_bServer = false;
    KeResponse m_response;
    KeFailure m_failure = KeFailure::kNone;
    int m_failureCode = 0;
    std::string m_detail;
};

}  // namespace nts
