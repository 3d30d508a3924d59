// Moves across file systems share the cost of durability: the rule stays that no source is
// deleted before its copy is on the disk, but the copies of a batch are made durable together
// (one syncfs where the file system allows it, instead of two fsyncs for every file), and only
// then are the batch's sources deleted and its lines written, in order. A batch is bounded in
// bytes, files and age, so a crash leaves at most one batch to redo: its copies are in place
// under their names, and the next run finds each remaining source identical to its copy.
#include "engine/engine.h"
#include "engine/failure.h"
#include "shared/text.h"

namespace sorvin {

namespace {

constexpr std::size_t kBatchFiles = 4096;
constexpr std::uint64_t kBatchBytes = 512u << 20;
constexpr auto kBatchAge = std::chrono::seconds(1);
constexpr std::string_view kMoveFailed = "移動が正常に終了しませんでした";

}  // namespace

void Engine::addToBatch(PlacedCopy copy)
{
    if (batch_.empty()) batchOpened_ = std::chrono::steady_clock::now();
    batchBytes_ += copy.copied.size;
    batch_.push_back(std::move(copy));
    if (batch_.size() >= kBatchFiles || batchBytes_ >= kBatchBytes ||
        std::chrono::steady_clock::now() - batchOpened_ >= kBatchAge)
        closeBatch();
}

void Engine::afterBatch(std::function<void()> step)
{
    if (batch_.empty()) return step();
    batch_.push_back({{}, {}, {}, {}, {}, {}, std::move(step)});
}

bool Engine::batchPlaced(const fs::Entry& target) const
{
    // By the paths shown: the same folder opened for two dropped items is two handles.
    const std::string path = target.path();
    for (const auto& copy : batch_)
        if (!copy.step && copy.target().path() == path) return true;
    return false;
}

void Engine::writeMoveLine(const std::string& line)
{
    const std::string stamped = line + "-" + TimeText();
    window_.setPaneText(stamped);
    run_.addLine(stamped);
}

bool Engine::reportFileFailure(const std::exception& e, const std::string& src)
{
    closeBatch();
    const Failure failure = DescribeFailure(e);
    const auto text = FailureMessage(FailureSide::File, failure, window_.checked(MenuOption::ErrMushi));
    if (!text) return true;
    batchStopped_ = closing_;
    window_.message(*text, MessageTitle::Pelkor, MessageIcon::Exclamation);
    run_.addLine(DisplayText(src));
    run_.stop();
    return failure.errorClass != fs::ErrorClass::Other;
}

void Engine::closeBatch()
{
    if (batch_.empty() || closing_) return;
    closing_ = true;
    std::vector<PlacedCopy> batch;
    batch.swap(batch_);
    batchBytes_ = 0;

    // When the batch fails, none of its copies counts as on the disk: the kernel tells of a
    // write-back failure once, so each copy asked about again alone would seem to be there.
    std::vector<fs::Entry> targets;
    for (const auto& copy : batch)
        if (!copy.step) targets.push_back(copy.target());
    bool durable = true;
    try {
        fs_.makeDurable(targets);
    } catch (const std::exception&) {
        durable = false;
    }

    const bool stopLineEnd = run_.holdStopLineEnd();
    // A failure stops the run after its file, as it did when each move was finished at once:
    // the batch's later moves are undone (their copies go, their sources stay).
    batchStopped_ = false;
    for (const PlacedCopy& copy : batch) {
        if (copy.step) {
            // Queued before any stop or failure that came after: it runs, unless this batch failed.
            if (!batchStopped_) copy.step();
            continue;
        }
        // A program that wrote to the source since its copy would lose what it wrote.
        bool undo = batchStopped_ || !durable;
        if (!undo) {
            try {
                undo = !fs_.unchangedSince(copy.source(), copy.copied);
                if (!undo) fs_.deleteFile(copy.source());
            } catch (const std::exception& e) {
                if (!reportFileFailure(e, copy.source().path())) continue;
            }
        }
        if (undo) {
            try {
                fs_.deleteFile(copy.target());
            } catch (const std::exception&) {
            }
            if (batchStopped_) continue;
            batchStopped_ = true;
            // As when a copy fails its check: the copy goes, the source stays, the run stops.
            window_.message(std::string(kMoveFailed), MessageTitle::Pelkor, MessageIcon::Exclamation);
            run_.stop();
            run_.addLine(DisplayText(copy.source().path()));
            window_.setPaneText(DisplayText(copy.source().path()));
            continue;
        }
        writeMoveLine(copy.line);
    }
    run_.restoreStopLineEnd(stopLineEnd);
    closing_ = false;
}

}  // namespace sorvin
