#include "analysis/Spectrum.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <type_traits>

#include "analysis/Extended.h"
#include "analysis/Fft.h"
#include "common/Round.h"

namespace sonabi {

namespace {

long double HammingWeight(unsigned n, unsigned count) {
    return 0.54L - 0.46L * std::cos(2 * kPiExtended * n / (count - 1));
}

// An extended-precision weight held as two doubles whose sum is exactly the weight: loading
// them costs far less than loading an 80-bit value, and the sum restores every bit.
struct SplitWeight {
    double hi, lo;
};

// The weights of every power-of-two window length up to the largest transform, built on first
// use (one cosine per frame would cost more than the transform itself).
const SplitWeight* HammingTable(unsigned count) {
    constexpr int kSizes = 14;  // 1 .. 8192
    static std::unique_ptr<SplitWeight[]> tables[kSizes];
    static std::once_flag built[kSizes];
    if (count < 2 || count > kMaxFftSize || (count & (count - 1)) != 0) return nullptr;
    int index = 0;
    while ((1u << index) < count) ++index;
    std::call_once(built[index], [index, count] {
        tables[index].reset(new SplitWeight[count]);
        for (unsigned n = 0; n < count; ++n) {
            const long double w = HammingWeight(n, count);
            const double hi = static_cast<double>(w);
            tables[index][n] = {hi, static_cast<double>(w - hi)};
        }
    });
    return tables[index].get();
}

template <typename Sample>
void FillWeighted(unsigned count, Sample sample, double* input) {
    if (const SplitWeight* w = HammingTable(count)) {
        for (unsigned n = 0; n < count; ++n) {
            const long double weight = static_cast<long double>(w[n].hi) + w[n].lo;
            input[n] = static_cast<double>(sample(n) * weight);
        }
    } else {
        for (unsigned n = 0; n < count; ++n) {
            input[n] = static_cast<double>(sample(n) * HammingWeight(n, count));
        }
    }
}

}  // namespace

bool FillWindowedInput(unsigned count, const uint8_t* data, SampleCoding coding, int channels,
                       int channel, double* input) {
    if (count < 2 || channel < 0 || channel > 1 || channel >= channels || !coding.Readable())
        return false;
    const size_t bytes = static_cast<size_t>(coding.Bytes());
    const size_t stride = bytes * static_cast<size_t>(channels);
    const uint8_t* first = data + bytes * static_cast<size_t>(channel);
    // One loop per coding, so that the sample's decoding is not chosen again for every frame.
    const auto fill = [&](auto bits, auto floating) {
        constexpr SampleCoding fixed{decltype(bits)::value, decltype(floating)::value};
        FillWeighted(
            count, [&](unsigned n) { return SampleValue(fixed, first + n * stride); }, input);
    };
    using std::integral_constant;
    using Int = integral_constant<bool, false>;
    using Float = integral_constant<bool, true>;
    if (coding.floating) {
        if (coding.bits == 32)
            fill(integral_constant<int, 32>{}, Float{});
        else
            fill(integral_constant<int, 64>{}, Float{});
    } else if (coding.bits == 8) {
        fill(integral_constant<int, 8>{}, Int{});
    } else if (coding.bits == 16) {
        fill(integral_constant<int, 16>{}, Int{});
    } else if (coding.bits == 24) {
        fill(integral_constant<int, 24>{}, Int{});
    } else {
        fill(integral_constant<int, 32>{}, Int{});
    }
    return true;
}

int SpanBinCount(unsigned fftSize, uint32_t rate, double frequencySpan) {
    const long double bins = fftSize / (static_cast<long double>(rate) / 2 / frequencySpan);
    if (!(bins >= 0) || std::isinf(bins)) return 0;
    constexpr long double kMaxBins = 1 << 30;
    if (bins > kMaxBins) return 1 << 30;
    return static_cast<int>(RoundExtended(bins));
}

uint32_t LowCutBinFor(double hz, double rate, unsigned fftSize) {
    if (!(rate > 0)) return 0;
    const double bin = hz / (rate / static_cast<double>(fftSize - 1));
    if (!(bin < 4294967295.0)) return UINT32_MAX;
    return static_cast<uint32_t>(Round(bin));
}

double PeakThresholdFor(SampleCoding coding) { return coding.ScaleBits() == 16 ? 5.0 : 0.1; }

int ReadableBinCount(int binCount, unsigned fftSize) {
    const int readable = static_cast<int>(fftSize / 2) - 1;
    if (binCount > readable) binCount = readable;
    return binCount < 0 ? 0 : binCount;
}

}  // namespace sonabi
