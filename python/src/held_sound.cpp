#include "held_sound.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <thread>

#include "analysis/AnalysisTable.h"
#include "analysis/NoteName.h"
#include "common/Blocks.h"
#include "ordered_pool.h"

using namespace sonabi;

namespace pysonabi {

namespace {

// Windows analysed as one part of the work, as the analyser's batches.
constexpr uint64_t kBatchWindows = 256;

Row RowOf(uint64_t offset, uint64_t bytesPerSecond, const WindowResult& r, double a4) {
    Row row{};
    row.offset = offset;
    const std::string time = MillisecondsText(offset, bytesPerSecond);
    std::from_chars(time.data(), time.data() + time.size(), row.time);
    row.detected = r.detected;
    row.hz = row.pitch = std::numeric_limits<double>::quiet_NaN();
    if (!r.detected) return row;
    row.frequency = r.frequency;
    row.level = r.level;
    std::copy(r.harmonicLevels + 1, r.harmonicLevels + 21, row.harmonics);
    row.hz = r.hz;
    row.pitch = r.pitch;
    const NearestNote note = NearestNoteOf(r.pitch, a4);
    if (note.valid) {
        row.cents = note.cents;
        for (size_t i = 0; i < note.name.size() && i < std::size(row.note); ++i)
            row.note[i] = static_cast<unsigned char>(note.name[i]);
    }
    return row;
}

// Windows first .. first + count - 1 of the plan as rows at `rows`.
void AnalyzeRange(const WaveFileData& wave, const AnalysisPlan& plan, uint64_t first,
                  uint64_t count, AnalysisWorkspace& ws, Row* rows) {
    WindowResult result;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t offset = plan.firstOffset + (first + i) * plan.stepBytes;
        AnalyzeWindow(wave.data, wave.size, wave.format, offset, plan.settings, ws, result);
        rows[i] = RowOf(offset, plan.bytesPerSecond, result, plan.settings.a4);
    }
}

// Runs work(batch, workspace) for every batch on `threads` threads, each batch once.
template <typename Work>
void ForEachBatch(uint64_t batches, unsigned threads, Work&& work) {
    std::atomic<uint64_t> next{0};
    const auto worker = [&] {
        const auto ws = std::make_unique<AnalysisWorkspace>();
        for (uint64_t b; (b = next++) < batches;) work(b, *ws);
    };
    threads = static_cast<unsigned>(std::min<uint64_t>(threads, std::max<uint64_t>(batches, 1)));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool) t.join();
}

uint64_t BatchesOf(uint64_t windows) { return (windows + kBatchWindows - 1) / kBatchWindows; }

}  // namespace

OwnedSound::~OwnedSound() { blocks::Release(wave.data); }

std::vector<RowField> RowFields() {
    std::vector<RowField> fields = {{"offset", "<u8", offsetof(Row, offset)},
                                    {"time", "<f8", offsetof(Row, time)},
                                    {"detected", "?", offsetof(Row, detected)},
                                    {"frequency", "<i4", offsetof(Row, frequency)},
                                    {"level", "<i4", offsetof(Row, level)}};
    for (size_t k = 0; k < 20; ++k)
        fields.push_back(
            {"h" + std::to_string(k + 1), "<i4", offsetof(Row, harmonics) + k * sizeof(int32_t)});
    fields.push_back({"hz", "<f8", offsetof(Row, hz)});
    fields.push_back({"note", "<U6", offsetof(Row, note)});
    fields.push_back({"cents", "<i4", offsetof(Row, cents)});
    fields.push_back({"pitch", "<f8", offsetof(Row, pitch)});
    return fields;
}

unsigned ThreadsFor(unsigned requested) {
    if (requested) return requested;
    return std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
}

std::vector<Row> AnalyzePlanned(const WaveFileData& wave, const AnalysisOptions& options,
                                const AnalysisPlan& plan, unsigned threads) {
    const uint64_t windows = PlannedWindows(options, plan, wave);
    std::vector<Row> rows(windows);
    ForEachBatch(BatchesOf(windows), threads, [&](uint64_t b, AnalysisWorkspace& ws) {
        const uint64_t first = b * kBatchWindows;
        AnalyzeRange(wave, plan, first, std::min(kBatchWindows, windows - first), ws,
                     rows.data() + first);
    });
    return rows;
}

StrongestWindow StrongestPlanned(const WaveFileData& wave, const AnalysisOptions& options,
                                 const AnalysisPlan& plan, unsigned threads) {
    const uint64_t windows = PlannedWindows(options, plan, wave);
    std::vector<StrongestWindow> parts(BatchesOf(windows));
    ForEachBatch(parts.size(), threads, [&](uint64_t b, AnalysisWorkspace& ws) {
        const uint64_t first = b * kBatchWindows;
        parts[b] =
            FindStrongestWindow(wave, plan, first, std::min(kBatchWindows, windows - first), ws);
    });
    // In order: a later batch wins only with a higher level, as in the analyser.
    StrongestWindow best;
    for (const StrongestWindow& part : parts) KeepStronger(best, part);
    return best;
}

std::vector<FileRows> AnalyzeFiles(const std::vector<std::string>& paths,
                                   const AnalysisOptions& options, unsigned threads) {
    struct Loaded {
        OwnedSound sound;
        AnalysisPlan plan;
        uint64_t windows = 0;
    };
    std::vector<FileRows> results(paths.size());
    std::vector<std::unique_ptr<AnalysisWorkspace>> workspaces(threads);
    for (auto& ws : workspaces) ws = std::make_unique<AnalysisWorkspace>();
    using Part = std::vector<Row>;
    cli::RunJobsInOrder<Part>(
        paths.size(), threads, 2 * size_t{threads},
        [&](size_t j) -> cli::OpenedJob<Part> {
            auto file = std::make_shared<Loaded>();
            std::string error;
            try {
                const LoadOutcome loaded =
                    LoadForAnalysis(paths[j], options, file->sound.wave, file->plan);
                error = loaded.loadError + loaded.usageError;
            } catch (const std::bad_alloc&) {
                error = "No Memory";
            }
            // Only this job's worker writes its error, before any of its parts is consumed.
            if (!error.empty()) {
                results[j].error = error;
                return {1, [](size_t, unsigned) { return Part{}; }};
            }
            file->windows = PlannedWindows(options, file->plan, file->sound.wave);
            const uint64_t parts = std::max<uint64_t>(1, BatchesOf(file->windows));
            return {parts, [file, &workspaces](size_t part, unsigned worker) {
                        const uint64_t first = part * kBatchWindows;
                        const uint64_t count =
                            std::min(kBatchWindows, file->windows - std::min(first, file->windows));
                        Part rows(count);
                        AnalyzeRange(file->sound.wave, file->plan, first, count,
                                     *workspaces[worker], rows.data());
                        return rows;
                    }};
        },
        [&](size_t j, Part&& rows) {
            results[j].rows.insert(results[j].rows.end(), rows.begin(), rows.end());
        });
    return results;
}

}  // namespace pysonabi
