// SPDX-License-Identifier: GPL-3.0-or-later
// The coding error of two encodings of one input, frame by frame.
//
//   bench_coding_error CHANNELS FRAME INPUT.f32 ONE.f32 OTHER.f32
//
// The files are raw 32-bit float samples, interleaved, as the stock ffmpeg
// decodes them ("-f f32le"); ONE and OTHER are decodings of two MP3s of
// INPUT (one thread, several). Prints, for each, the overall error level
// (dB relative to full scale) and the largest error of a single sample, then
// the share of frames of FRAME samples whose error levels differ by at most
// 3 dB, ignoring frames where both lie below -90 dB (near silence).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<float> readSamples(const char *path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(samples.size() * sizeof(float)),
              reinterpret_cast<char *>(samples.data()));
    return samples;
}

double decibels(double meanSquare)
{
    return 10.0 * std::log10(std::max(meanSquare, 1e-20));
}

struct Error
{
    double overallDb = 0;
    double largest = 0;
    std::vector<double> frameDb;
};

Error measure(const std::vector<float> &input, const std::vector<float> &decoded, std::size_t frameValues)
{
    Error error;
    const std::size_t n = std::min(input.size(), decoded.size());
    double total = 0;
    for (std::size_t start = 0; start < n; start += frameValues) {
        const std::size_t end = std::min(n, start + frameValues);
        double sum = 0;
        for (std::size_t i = start; i < end; ++i) {
            const double d = double(decoded[i]) - double(input[i]);
            sum += d * d;
            error.largest = std::max(error.largest, std::fabs(d));
        }
        total += sum;
        error.frameDb.push_back(decibels(sum / double(end - start)));
    }
    error.overallDb = decibels(total / double(std::max<std::size_t>(1, n)));
    return error;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s CHANNELS FRAME INPUT.f32 ONE.f32 OTHER.f32\n", argv[0]);
        return 2;
    }
    const std::size_t channels = std::strtoul(argv[1], nullptr, 10);
    const std::size_t frame = std::strtoul(argv[2], nullptr, 10);
    const std::vector<float> input = readSamples(argv[3]);
    const std::vector<float> one = readSamples(argv[4]);
    const std::vector<float> other = readSamples(argv[5]);
    const Error a = measure(input, one, channels * frame);
    const Error b = measure(input, other, channels * frame);
    std::size_t compared = 0;
    std::size_t close = 0;
    double worst = 0;
    std::size_t worstFrame = 0;
    for (std::size_t i = 0; i < std::min(a.frameDb.size(), b.frameDb.size()); ++i) {
        if (a.frameDb[i] < -90 && b.frameDb[i] < -90)
            continue;
        ++compared;
        const double difference = b.frameDb[i] - a.frameDb[i];
        close += std::fabs(difference) <= 3.0;
        if (difference > worst) {
            worst = difference;
            worstFrame = i;
        }
    }
    std::printf("samples: input %zu, one %zu, other %zu (per channel)\n", input.size() / channels,
                one.size() / channels, other.size() / channels);
    std::printf("error: one %.2f dB, other %.2f dB, difference %.2f dB\n", a.overallDb, b.overallDb,
                b.overallDb - a.overallDb);
    std::printf("largest sample error: one %.5f, other %.5f, ratio %.2f\n", a.largest, b.largest,
                a.largest > 0 ? b.largest / a.largest : 0.0);
    std::printf("frames within 3 dB: %.3f %% of %zu; worst +%.2f dB at frame %zu\n",
                compared ? 100.0 * double(close) / double(compared) : 100.0, compared, worst, worstFrame);
    return 0;
}
