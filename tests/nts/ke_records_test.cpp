// The key exchange's records: the request's exact bytes, and the response parser over a table
// of responses, each fed whole, byte by byte and in uneven pieces, which must all read alike.
#include "nts/ke_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using nts::KeFailure;
using Progress = nts::KeResponseParser::Progress;

Bytes Record(int type, Bytes body, bool critical = true) {
    const int word = type | (critical ? 0x8000 : 0);
    Bytes record(4 + body.size());
    record[0] = static_cast<std::uint8_t>(word >> 8);
    record[1] = static_cast<std::uint8_t>(word);
    record[2] = static_cast<std::uint8_t>(body.size() >> 8);
    record[3] = static_cast<std::uint8_t>(body.size());
    std::copy(body.begin(), body.end(), record.begin() + 4);
    return record;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

Bytes Repeat(const Bytes& part, int times) {
    return Join(std::vector<Bytes>(static_cast<std::size_t>(times), part));
}

const Bytes kNtpV4 = Record(1, {0, 0});
const Bytes kAead15 = Record(4, {0, 15});
const Bytes kCookie = Record(5, Bytes(100, 0xC5), false);
const Bytes kEnd = Record(0, {});

struct Case {
    const char* name;
    Bytes response;
    bool closed;  // the server closes the connection after these bytes
    Progress progress;
    KeFailure failure;
    int code;
    std::size_t cookies;
    std::string server;
    int port;
    std::string text;  // part of FailureText()
};

std::vector<Case> Cases() {
    const Bytes good = Join({kNtpV4, kAead15, kCookie});
    return {
        {"chrony-like",
         Join({kNtpV4, kAead15, Repeat(kCookie, 8), Record(6, Text("127.0.0.2")),
               Record(7, {0x30, 0x39}), kEnd}),
         false, Progress::kDone, KeFailure::kNone, 0, 8, "127.0.0.2", 12345, ""},
        {"minimal", Join({good, kEnd}), false, Progress::kDone, KeFailure::kNone, 0, 1, "", 0, ""},
        {"records in another order", Join({kCookie, Record(7, {0, 123}), kAead15, kNtpV4, kEnd}),
         false, Progress::kDone, KeFailure::kNone, 0, 1, "", 123, ""},
        {"more than eight cookies", Join({good, Repeat(kCookie, 11), kEnd}), false, Progress::kDone,
         KeFailure::kNone, 0, 8, "", 0, ""},
        {"unknown record without the critical bit",
         Join({good, Record(0x1234, {1, 2}, false), kEnd}), false, Progress::kDone,
         KeFailure::kNone, 0, 1, "", 0, ""},
        {"IPv6 and host names", Join({good, Record(6, Text("ntp-1.example.org")), kEnd}), false,
         Progress::kDone, KeFailure::kNone, 0, 1, "ntp-1.example.org", 0, ""},
        {"bytes after End of Message", Join({good, kEnd, Record(2, {0, 1})}), false,
         Progress::kDone, KeFailure::kNone, 0, 1, "", 0, ""},

        {"error record", Join({Record(2, {0, 1}), kEnd}), false, Progress::kFailed,
         KeFailure::kErrorRecord, 1, 0, "", 0, "the server sent error 1 (bad request)"},
        {"error record after cookies", Join({good, Record(2, {0, 2}), kEnd}), false,
         Progress::kFailed, KeFailure::kErrorRecord, 2, 0, "", 0, "internal server error"},
        {"warning record", Join({good, Record(3, {0x80, 0x01}), kEnd}), false, Progress::kFailed,
         KeFailure::kWarningRecord, 0x8001, 0, "", 0, "the server sent warning 32769"},
        {"unknown critical record", Join({good, Record(0x4321, {}), kEnd}), false,
         Progress::kFailed, KeFailure::kUnknownCriticalRecord, 0x4321, 0, "", 0,
         "unknown critical record of type 17185"},
        {"no cookies", Join({kNtpV4, kAead15, kEnd}), false, Progress::kFailed,
         KeFailure::kNoCookies, 0, 0, "", 0, "no cookies"},
        {"AEAD 17", Join({kNtpV4, Record(4, {0, 17}), kCookie, kEnd}), false, Progress::kFailed,
         KeFailure::kBadAead, 17, 0, "", 0, "AEAD algorithm 17 instead of 15"},
        {"no AEAD in common", Join({kNtpV4, Record(4, {}), kEnd}), false, Progress::kFailed,
         KeFailure::kBadAead, -1, 0, "", 0, "no AEAD algorithm in common"},
        {"no AEAD record", Join({kNtpV4, kCookie, kEnd}), false, Progress::kFailed,
         KeFailure::kBadAead, -1, 0, "", 0, "no AEAD Algorithm record"},
        {"next protocol 1", Join({Record(1, {0, 1}), kAead15, kCookie, kEnd}), false,
         Progress::kFailed, KeFailure::kBadNextProtocol, 1, 0, "", 0, "next protocol 1"},
        {"next protocols 0 and 2", Join({Record(1, {0, 0, 0, 2}), kAead15, kCookie, kEnd}), false,
         Progress::kFailed, KeFailure::kBadNextProtocol, 2, 0, "", 0, "next protocol 2"},
        {"no next protocol in common", Join({Record(1, {}), kEnd}), false, Progress::kFailed,
         KeFailure::kBadNextProtocol, -1, 0, "", 0, "no next protocol in common"},
        {"no next protocol record", Join({kAead15, kCookie, kEnd}), false, Progress::kFailed,
         KeFailure::kBadNextProtocol, -1, 0, "", 0, "no Next Protocol record"},

        {"next protocol of odd size", Join({Record(1, {0, 0, 0}), kEnd}), false, Progress::kFailed,
         KeFailure::kMalformedRecord, 1, 0, "", 0, "of 3 bytes"},
        {"error record of 3 bytes", Join({Record(2, {0, 0, 1}), kEnd}), false, Progress::kFailed,
         KeFailure::kMalformedRecord, 2, 0, "", 0, "an Error record of 3 bytes"},
        {"AEAD record naming two", Join({kNtpV4, Record(4, {0, 15, 0, 15}), kEnd}), false,
         Progress::kFailed, KeFailure::kMalformedRecord, 4, 0, "", 0, "of 4 bytes"},
        {"End of Message with a body", Join({good, Record(0, {0})}), false, Progress::kFailed,
         KeFailure::kMalformedRecord, 0, 0, "", 0, "End of Message"},
        {"empty cookie", Join({good, Record(5, {}), kEnd}), false, Progress::kFailed,
         KeFailure::kMalformedRecord, 5, 0, "", 0, "a New Cookie record of 0 bytes"},
        {"cookie of 1025 bytes", Join({good, Record(5, Bytes(1025, 1)), kEnd}), false,
         Progress::kFailed, KeFailure::kMalformedRecord, 5, 0, "", 0, "of 1025 bytes"},
        {"server name with a space", Join({good, Record(6, Text("a b")), kEnd}), false,
         Progress::kFailed, KeFailure::kMalformedRecord, 6, 0, "", 0, "names no host"},
        {"empty server name", Join({good, Record(6, {}), kEnd}), false, Progress::kFailed,
         KeFailure::kMalformedRecord, 6, 0, "", 0, "names no host"},
        {"server name of 256 bytes", Join({good, Record(6, Bytes(256, 'a')), kEnd}), false,
         Progress::kFailed, KeFailure::kMalformedRecord, 6, 0, "", 0, "names no host"},
        {"port 0", Join({good, Record(7, {0, 0}), kEnd}), false, Progress::kFailed,
         KeFailure::kMalformedRecord, 7, 0, "", 0, "port 0"},
        {"port of 3 bytes", Join({good, Record(7, {0, 0, 123}), kEnd}), false, Progress::kFailed,
         KeFailure::kMalformedRecord, 7, 0, "", 0, "of 3 bytes"},
        {"two next protocol records", Join({kNtpV4, kNtpV4, kEnd}), false, Progress::kFailed,
         KeFailure::kMalformedRecord, 1, 0, "", 0, "a second Next Protocol record"},
        {"two AEAD records", Join({kAead15, kAead15, kEnd}), false, Progress::kFailed,
         KeFailure::kMalformedRecord, 4, 0, "", 0, "a second AEAD"},
        {"two server records", Join({good, Record(6, Text("a")), Record(6, Text("b")), kEnd}),
         false, Progress::kFailed, KeFailure::kMalformedRecord, 6, 0, "", 0,
         "a second NTPv4 Server"},
        {"two port records", Join({good, Record(7, {0, 1}), Record(7, {0, 1}), kEnd}), false,
         Progress::kFailed, KeFailure::kMalformedRecord, 7, 0, "", 0, "a second NTPv4 Port"},
        {"record length past the data", Join({good, Bytes{0x80, 5, 0x01, 0x00, 1, 2, 3}}), true,
         Progress::kFailed, KeFailure::kMalformedRecord, -1, 0, "", 0,
         "record length past the data"},
        {"header cut short", Join({good, Bytes{0x80}}), true, Progress::kFailed,
         KeFailure::kMalformedRecord, -1, 0, "", 0, "header cut short"},
        {"closed between records", good, true, Progress::kFailed, KeFailure::kClosedEarly, 0, 0, "",
         0, "connection closed before End of Message"},
        {"closed before anything",
         {},
         true,
         Progress::kFailed,
         KeFailure::kClosedEarly,
         0,
         0,
         "",
         0,
         "closed before End of Message"},

        // A record that would pass the size bound is refused on its header alone.
        {"record past 64 KiB", Join({good, Bytes{0x00, 0x10, 0xFF, 0xFF}}), false,
         Progress::kFailed, KeFailure::kTooLarge, 0, 0, "", 0, "longer than 65536 bytes"},
        {"records past 64 KiB", Join({good, Repeat(Record(0x10, Bytes(30000, 0), false), 3)}),
         false, Progress::kFailed, KeFailure::kTooLarge, 0, 0, "", 0, "longer than 65536"},
        {"endless records", Repeat(Record(0x10, {}, false), 65), false, Progress::kFailed,
         KeFailure::kTooManyRecords, 0, 0, "", 0, "more than 64 records"},
        {"sixty-four records", Join({good, Repeat(Record(0x10, {}, false), 60), kEnd}), false,
         Progress::kDone, KeFailure::kNone, 0, 1, "", 0, ""},
        {"still waiting", good, false, Progress::kMore, KeFailure::kNone, 0, 0, "", 0, ""},
    };
}

struct Outcome {
    Progress progress;
    KeFailure failure;
    int code;
    nts::KeResponse response;
    std::string text;
};

Outcome Parse(const Case& c, std::size_t piece) {
    nts::KeResponseParser parser;
    for (std::size_t at = 0; at < c.response.size(); at += piece) {
        const std::size_t size = std::min(piece, c.response.size() - at);
        parser.Feed(c.response.data() + at, size);
    }
    if (c.closed) {
        parser.EndOfStream();
    }
    return {parser.State(), parser.Failure(), parser.FailureCode(), parser.Response(),
            parser.FailureText()};
}

TEST(KeRecords, RequestIsNtpV4AesSivCmac256AndEndOfMessageAllCritical) {
    const Bytes expected = {0x80, 0x01, 0x00, 0x02, 0x00, 0x00, 0x80, 0x04,
                            0x00, 0x02, 0x00, 0x0F, 0x80, 0x00, 0x00, 0x00};
    EXPECT_EQ(nts::BuildKeRequest(), expected);
}

TEST(KeRecords, ResponseTableWholeByteByByteAndInPieces) {
    for (const Case& c : Cases()) {
        for (const std::size_t piece : {c.response.size() + 1, std::size_t{1}, std::size_t{3},
                                        std::size_t{7}, std::size_t{1000}}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            const Outcome got = Parse(c, piece);
            EXPECT_EQ(got.progress, c.progress);
            EXPECT_EQ(got.failure, c.failure);
            EXPECT_EQ(got.code, c.code);
            EXPECT_NE(got.text.find(c.text), std::string::npos) << got.text;
            EXPECT_EQ(got.text.empty(), c.failure == KeFailure::kNone) << got.text;
            if (c.progress == Progress::kDone) {
                ASSERT_EQ(got.response.cookies.size(), c.cookies);
                EXPECT_EQ(got.response.cookies.front(), Bytes(100, 0xC5));
                EXPECT_EQ(got.response.server, c.server);
                EXPECT_EQ(got.response.port, c.port);
            } else {
                // Nothing of a refused or unfinished response is to be used.
                EXPECT_TRUE(got.response.cookies.empty() || c.progress == Progress::kMore);
            }
        }
    }
}

TEST(KeRecords, ResultStaysOnceDecided) {
    nts::KeResponseParser parser;
    const Bytes done = Join({kNtpV4, kAead15, kCookie, kEnd});
    EXPECT_EQ(parser.Feed(done.data(), done.size()), Progress::kDone);
    const Bytes error = Record(2, {0, 1});
    EXPECT_EQ(parser.Feed(error.data(), error.size()), Progress::kDone);
    EXPECT_EQ(parser.EndOfStream(), Progress::kDone);
    EXPECT_EQ(parser.Response().cookies.size(), 1U);

    nts::KeResponseParser refused;
    EXPECT_EQ(refused.Feed(error.data(), error.size()), Progress::kFailed);
    EXPECT_EQ(refused.Feed(done.data(), done.size()), Progress::kFailed);
    EXPECT_EQ(refused.Failure(), KeFailure::kErrorRecord);
}

}  // namespace
