#include "nts/ke_records.h"

#include <algorithm>
#include <cctype>

#include "nts/wipe.h"

namespace nts {
namespace {

constexpr std::size_t kHeaderBytes = 4;

std::uint16_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

void AppendRecord(std::vector<std::uint8_t>* out, KeRecordType type,
                  const std::vector<std::uint16_t>& words) {
    const auto word = static_cast<std::uint16_t>(kCriticalBit | static_cast<std::uint16_t>(type));
    const auto length = static_cast<std::uint16_t>(words.size() * 2);
    for (const std::uint16_t value : {word, length}) {
        out->push_back(static_cast<std::uint8_t>(value >> 8));
        out->push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
    for (const std::uint16_t value : words) {
        out->push_back(static_cast<std::uint8_t>(value >> 8));
        out->push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
}

// A host name or an address literal, as the server may name its NTP server: printable,
// without spaces or anything a name or an address does not hold.
bool IsServerName(const std::uint8_t* body, std::size_t size) {
    if (size == 0 || size > kMaxServerNameBytes) {
        return false;
    }
    return std::all_of(body, body + size, [](std::uint8_t c) {
        return std::isalnum(c) != 0 || c == '.' || c == '-' || c == ':' || c == '_';
    });
}

const char* ErrorName(int code) {
    switch (code) {
        case 0:
            return " (unrecognized critical record)";
        case 1:
            return " (bad request)";
        case 2:
            return " (internal server error)";
        default:
            return "";
    }
}

std::string BodySize(const char* record, std::size_t size) {
    return std::string(record) + " record of " + std::to_string(size) + " bytes";
}

}  // namespace

std::vector<std::uint8_t> BuildKeRequest() {
    std::vector<std::uint8_t> request;
    AppendRecord(&request, KeRecordType::kNextProtocol, {kNextProtocolNtpV4});
    AppendRecord(&request, KeRecordType::kAeadAlgorithm, {kAeadAesSivCmac256});
    AppendRecord(&request, KeRecordType::kEndOfMessage, {});
    return request;
}

KeResponseParser::~KeResponseParser() {
    WipeCookies(&m_response.cookies);
    WipeBytes(&m_pending);
}

KeResponseParser::Progress KeResponseParser::Feed(const std::uint8_t* data, std::size_t size) {
    if (m_progress != Progress::kMore || size == 0) {
        return m_progress;
    }
    AppendWiping(&m_pending, data, size);
    std::size_t at = 0;
    while (m_pending.size() - at >= kHeaderBytes) {
        const std::uint16_t word = Word(&m_pending[at]);
        const std::size_t length = Word(&m_pending[at + 2]);
        // Refused as soon as the header announces it: no waiting for bytes never taken.
        if (m_received + kHeaderBytes + length > kMaxResponseBytes) {
            return Fail(KeFailure::kTooLarge, 0);
        }
        if (m_pending.size() - at - kHeaderBytes < length) {
            break;
        }
        if (++m_records > kMaxResponseRecords) {
            return Fail(KeFailure::kTooManyRecords, 0);
        }
        m_received += kHeaderBytes + length;
        if (!TakeRecord(word, &m_pending[at + kHeaderBytes], length)) {
            WipeBytes(&m_pending);
            return m_progress;
        }
        at += kHeaderBytes + length;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(at));
    return m_progress;
}

KeResponseParser::Progress KeResponseParser::EndOfStream() {
    if (m_progress != Progress::kMore) {
        return m_progress;
    }
    if (!m_pending.empty()) {
        return Fail(KeFailure::kMalformedRecord, -1,
                    m_pending.size() < kHeaderBytes ? "a record header cut short"
                                                    : "record length past the data");
    }
    return Fail(KeFailure::kClosedEarly, 0);
}

bool KeResponseParser::TakeRecord(std::uint16_t word, const std::uint8_t* body, std::size_t size) {
    const int type = word & ~kCriticalBit;
    const auto malformed = [this, type](std::string detail) {
        Fail(KeFailure::kMalformedRecord, type, std::move(detail));
        return false;
    };
    switch (static_cast<KeRecordType>(type)) {
        case KeRecordType::kEndOfMessage:
            if (size != 0) {
                return malformed(BodySize("an End of Message", size));
            }
            Finish();
            return false;
        case KeRecordType::kNextProtocol:
            if (m_bNextProtocol) {
                return malformed("a second Next Protocol record");
            }
            if (size % 2 != 0) {
                return malformed(BodySize("a Next Protocol", size));
            }
            m_bNextProtocol = true;
            if (size == 0) {
                Fail(KeFailure::kBadNextProtocol, -1);
                return false;
            }
            for (std::size_t i = 0; i < size; i += 2) {
                if (Word(body + i) != kNextProtocolNtpV4) {
                    Fail(KeFailure::kBadNextProtocol, Word(body + i));
                    return false;
                }
            }
            return true;
        case KeRecordType::kError:
        case KeRecordType::kWarning:
            if (size != 2) {
                return malformed(BodySize(type == 2 ? "an Error" : "a Warning", size));
            }
            Fail(type == 2 ? KeFailure::kErrorRecord : KeFailure::kWarningRecord, Word(body));
            return false;
        case KeRecordType::kAeadAlgorithm:
            if (m_bAead) {
                return malformed("a second AEAD Algorithm record");
            }
            m_bAead = true;
            if (size == 0) {
                Fail(KeFailure::kBadAead, -1);
                return false;
            }
            if (size != 2) {  // the server chooses one
                return malformed(BodySize("an AEAD Algorithm", size));
            }
            if (Word(body) != kAeadAesSivCmac256) {
                Fail(KeFailure::kBadAead, Word(body));
                return false;
            }
            return true;
        case KeRecordType::kNewCookie:
            if (size == 0 || size > kMaxCookieSize) {
                return malformed(BodySize("a New Cookie", size));
            }
            if (m_response.cookies.size() < kMaxCookies) {
                m_response.cookies.emplace_back(body, body + size);
            }
            return true;
        case KeRecordType::kNtpServer:
            if (m_bServer) {
                return malformed("a second NTPv4 Server record");
            }
            if (!IsServerName(body, size)) {
                return malformed("an NTPv4 Server record that names no host");
            }
            m_bServer = true;
            m_response.server.assign(body, body + size);
            return true;
        case KeRecordType::kNtpPort:
            if (m_response.port != 0) {
                return malformed("a second NTPv4 Port record");
            }
            if (size != 2 || Word(body) == 0) {
                return malformed(size != 2 ? BodySize("an NTPv4 Port", size)
                                           : "an NTPv4 Port record of port 0");
            }
            m_response.port = Word(body);
            return true;
        default:
            if ((word & kCriticalBit) != 0) {
                Fail(KeFailure::kUnknownCriticalRecord, type);
                return false;
            }
            return true;  // a record this client does not know and need not understand
    }
}

KeResponseParser::Progress KeResponseParser::Finish() {
    if (!m_bNextProtocol) {
        return Fail(KeFailure::kBadNextProtocol, -1, "no Next Protocol record");
    }
    if (!m_bAead) {
        return Fail(KeFailure::kBadAead, -1, "no AEAD Algorithm record");
    }
    if (m_response.cookies.empty()) {
        return Fail(KeFailure::kNoCookies, 0);
    }
    m_progress = Progress::kDone;
    return m_progress;
}

KeResponseParser::Progress KeResponseParser::Fail(KeFailure failure, int code, std::string detail) {
    m_progress = Progress::kFailed;
    m_failure = failure;
    m_failureCode = code;
    m_detail = std::move(detail);
    WipeCookies(&m_response.cookies);
    m_response = KeResponse{};
    return m_progress;
}

std::string KeResponseParser::FailureText() const {
    const std::string code = std::to_string(m_failureCode);
    switch (m_failure) {
        case KeFailure::kNone:
            break;
        case KeFailure::kErrorRecord:
            return "the server sent error " + code + ErrorName(m_failureCode);
        case KeFailure::kWarningRecord:
            return "the server sent warning " + code;
        case KeFailure::kUnknownCriticalRecord:
            return "unknown critical record of type " + code;
        case KeFailure::kNoCookies:
            return "the server sent no cookies";
        case KeFailure::kBadAead:
            if (!m_detail.empty()) {
                return m_detail;
            }
            return m_failureCode < 0 ? "no AEAD algorithm in common"
                                     : "AEAD algorithm " + code + " instead of 15";
        case KeFailure::kBadNextProtocol:
            if (!m_detail.empty()) {
                return m_detail;
            }
            return m_failureCode < 0 ? "no next protocol in common"
                                     : "next protocol " + code + " instead of NTPv4";
        case KeFailure::kMalformedRecord:
            return "malformed record: " + m_detail;
        case KeFailure::kTooLarge:
            return "response longer than " + std::to_string(kMaxResponseBytes) + " bytes";
        case KeFailure::kTooManyRecords:
            return "more than " + std::to_string(kMaxResponseRecords) + " records";
        case KeFailure::kClosedEarly:
            return "connection closed before End of Message";
    }
    return {};
}

}  // namespace nts
