// The core's costs: a whole exchange on loopback, the answer's checks and reduction, and
// the NtpTimestamp conversions that every exchange and report goes through.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "bench/loopback_responder.h"
#include "net/sntp_packet.h"
#include "net/time_client.h"
#include "time/ntp_timestamp.h"

namespace {

void BM_SntpQueryLoopback(benchmark::State& state) {
    LoopbackResponder responder;
    if (!responder.Ready()) {
        state.SkipWithError("no loopback socket");
        return;
    }
    TimeClient client;
    SntpResult result;
    for (auto _ : state) {
        if (!client.SntpQuery("127.0.0.1", &result, responder.Port())) {
            state.SkipWithError("the exchange failed");
            break;
        }
        benchmark::DoNotOptimize(result.m_dClockOffset);
    }
}
BENCHMARK(BM_SntpQueryLoopback)->UseRealTime();

// A believable answer to a request sent at `sent`.
void MakeAnswer(const NtpTimestamp& sent, std::uint8_t answer[sntp::kAnswerBufferSize]) {
    std::memset(answer, 0, sntp::kAnswerBufferSize);
    answer[0] = 0x24;
    answer[1] = 2;
    const NtpWireTimestamp origin = sent.ToNetwork();
    const NtpWireTimestamp server = sent.AddSeconds(0.25).ToNetwork();
    std::memcpy(answer + 24, origin.bytes, 8);
    std::memcpy(answer + 32, server.bytes, 8);
    std::memcpy(answer + 40, server.bytes, 8);
}

void BM_AnswerCheckReadReduce(benchmark::State& state) {
    const NtpTimestamp sent = NtpTimestamp::FromParts(3900000000u, 0x80000000u);
    std::uint8_t answer[sntp::kAnswerBufferSize];
    MakeAnswer(sent, answer);
    SntpResult result;
    result.m_tsDestination = sent.AddSeconds(0.002);
    for (auto _ : state) {
        benchmark::DoNotOptimize(answer);
        if (sntp::CheckAnswer(answer, sntp::kPacketSize, sent) == sntp::AnswerCheck::kAccepted) {
            sntp::ReadAnswer(answer, &result);
            sntp::ComputeDelayAndOffset(&result);
        }
        benchmark::DoNotOptimize(result.m_dClockOffset);
    }
}
BENCHMARK(BM_AnswerCheckReadReduce);

void BM_BuildRequest(benchmark::State& state) {
    const NtpTimestamp sent = NtpTimestamp::FromParts(3900000000u, 0x80000000u);
    std::uint8_t request[sntp::kPacketSize];
    for (auto _ : state) {
        sntp::BuildRequest(sent, request);
        benchmark::DoNotOptimize(request);
    }
}
BENCHMARK(BM_BuildRequest);

void BM_TimestampNow(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(NtpTimestamp::Now());
    }
}
BENCHMARK(BM_TimestampNow);

void BM_TimestampToNetwork(benchmark::State& state) {
    NtpTimestamp t = NtpTimestamp::FromParts(3900000000u, 0x12345678u);
    for (auto _ : state) {
        benchmark::DoNotOptimize(t);
        benchmark::DoNotOptimize(t.ToNetwork());
    }
}
BENCHMARK(BM_TimestampToNetwork);

void BM_TimestampFromNetwork(benchmark::State& state) {
    NtpWireTimestamp wire = NtpTimestamp::FromParts(3900000000u, 0x12345678u).ToNetwork();
    for (auto _ : state) {
        benchmark::DoNotOptimize(wire);
        benchmark::DoNotOptimize(NtpTimestamp::FromNetwork(wire));
    }
}
BENCHMARK(BM_TimestampFromNetwork);

void BM_TimestampToSystemTime(benchmark::State& state) {
    NtpTimestamp t = NtpTimestamp::FromParts(3900000000u, 0x12345678u);
    for (auto _ : state) {
        benchmark::DoNotOptimize(t);
        benchmark::DoNotOptimize(t.ToSystemTime());
    }
}
BENCHMARK(BM_TimestampToSystemTime);

void BM_TimestampFromSystemTime(benchmark::State& state) {
    SYSTEMTIME utc = NtpTimestamp::FromParts(3900000000u, 0x12345678u).ToSystemTime();
    for (auto _ : state) {
        benchmark::DoNotOptimize(utc);
        benchmark::DoNotOptimize(NtpTimestamp::FromSystemTime(utc));
    }
}
BENCHMARK(BM_TimestampFromSystemTime);

void BM_TimestampDifference(benchmark::State& state) {
    NtpTimestamp a = NtpTimestamp::FromParts(3900000000u, 0x12345678u);
    NtpTimestamp b = NtpTimestamp::FromParts(3899999990u, 0x87654321u);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(a.Difference(b));
    }
}
BENCHMARK(BM_TimestampDifference);

void BM_TimestampAddSeconds(benchmark::State& state) {
    NtpTimestamp t = NtpTimestamp::FromParts(3900000000u, 0x12345678u);
    double offset = -37.25;
    for (auto _ : state) {
        benchmark::DoNotOptimize(offset);
        benchmark::DoNotOptimize(t.AddSeconds(offset));
    }
}
BENCHMARK(BM_TimestampAddSeconds);

}  // namespace

BENCHMARK_MAIN();
