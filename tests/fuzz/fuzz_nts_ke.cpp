// The key exchange's response parser: any bytes a server may send.
//
// Input: one byte that picks how the rest is cut into pieces, then the response. Checks that
// the pieces read exactly as the whole, that a finished response keeps every bound (cookies,
// their sizes, the server's name and port), and that a refused one keeps nothing and says why.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "nts/ke_records.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using Progress = nts::KeResponseParser::Progress;

void Finish(nts::KeResponseParser* parser, bool closed) {
    if (closed) {
        parser->EndOfStream();
        FUZZ_CHECK(parser->State() != Progress::kMore);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const unsigned cut = data[0];
    const bool closed = (cut & 0x80) != 0;
    const std::vector<std::uint8_t> response(data + 1, data + size);

    nts::KeResponseParser whole;
    whole.Feed(response.data(), response.size());
    Finish(&whole, closed);

    // Pieces of 1 to 64 bytes, their lengths drawn from the cut byte.
    nts::KeResponseParser pieces;
    std::uint32_t state = cut * 2654435761U + 1;
    for (size_t at = 0; at < response.size();) {
        state = state * 1103515245U + 12345U;
        const size_t piece = std::min<size_t>(1 + (state >> 16) % 64, response.size() - at);
        // An exact-size copy, so that a read past a piece is an ASan report.
        const std::vector<std::uint8_t> copy(response.begin() + at, response.begin() + at + piece);
        pieces.Feed(copy.data(), copy.size());
        at += piece;
    }
    Finish(&pieces, closed);

    FUZZ_CHECK(whole.State() == pieces.State());
    FUZZ_CHECK(whole.Failure() == pieces.Failure());
    FUZZ_CHECK(whole.FailureCode() == pieces.FailureCode());
    FUZZ_CHECK(whole.FailureText() == pieces.FailureText());
    const nts::KeResponse& got = whole.Response();
    FUZZ_CHECK(got.cookies == pieces.Response().cookies);
    FUZZ_CHECK(got.server == pieces.Response().server);
    FUZZ_CHECK(got.port == pieces.Response().port);

    switch (whole.State()) {
        case Progress::kDone:
            FUZZ_CHECK(whole.Failure() == nts::KeFailure::kNone && whole.FailureText().empty());
            FUZZ_CHECK(!got.cookies.empty() && got.cookies.size() <= nts::kMaxCookies);
            for (const std::vector<std::uint8_t>& cookie : got.cookies) {
                FUZZ_CHECK(!cookie.empty() && cookie.size() <= nts::kMaxCookieSize);
            }
            FUZZ_CHECK(got.server.size() <= nts::kMaxServerNameBytes);
            FUZZ_CHECK(std::none_of(got.server.begin(), got.server.end(), [](char c) {
                return std::isspace(static_cast<unsigned char>(c)) != 0 || c == '\0';
            }));
            FUZZ_CHECK(got.port >= 0 && got.port <= 65535);
            break;
        case Progress::kFailed:
            FUZZ_CHECK(whole.Failure() != nts::KeFailure::kNone && !whole.FailureText().empty());
            FUZZ_CHECK(got.cookies.empty() && got.server.empty() && got.port == 0);
            break;
        case Progress::kMore:
            FUZZ_CHECK(!closed && whole.Failure() == nts::KeFailure::kNone);
            FUZZ_CHECK(response.size() < nts::kMaxResponseBytes + 4);
            break;
    }
    return 0;
}
