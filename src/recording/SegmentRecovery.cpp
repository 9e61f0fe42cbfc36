#include "recording/SegmentRecovery.h"

#include <algorithm>
#include <utility>

#include <QDir>
#include <QRegularExpression>

#include "platform/MainThread.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/Logging.h"
#include "store/Realm.h"
#include "store/Results.h"

namespace orvo {
namespace {

// A segment: stamp, "_", its index (or "mix" for the mixed track, "echofree" for the near side
// without the echo), and the extension of its kind.
const QRegularExpression
    segmentName(QStringLiteral(R"(^(\d{14}(?:-\d+)?)_(\d+|mix|echofree)\.(m4a|mov)$)"));

} // namespace

SegmentRecovery::SegmentRecovery(Recovered recovered) : recovered_(std::move(recovered)) {}

SegmentRecovery::~SegmentRecovery() = default;

SegmentRecovery::Orphans SegmentRecovery::findOrphans(const std::set<QString>& catalogued) {
    std::map<QString, std::vector<std::pair<int, QString>>> found;
    for (const QString& folder : {API::audioRecordsPath(), API::videoRecordsPath()}) {
        for (const QString& name : QDir(folder).entryList(QDir::Files)) {
            const auto match = segmentName.match(name);
            if (match.hasMatch())
                found[match.captured(1)].emplace_back(match.captured(2).toInt(), folder + name);
        }
    }
    Orphans orphans;
    for (auto& [stamp, segments] : found) {
        const bool isVideo = std::any_of(segments.begin(), segments.end(), [](const auto& s) {
            return s.second.endsWith(API::videoExtension());
        });
        const QString fileName = stamp + (isVideo ? API::videoExtension() : API::audioExtension());
        if (catalogued.contains(fileName))
            continue;
        std::sort(segments.begin(), segments.end());
        for (const auto& segment : segments)
            orphans[stamp].push_back(segment.second);
    }
    return orphans;
}

void SegmentRecovery::start(std::function<void()> done) {
    done_ = std::move(done);
    running_ = true;
    std::set<QString> catalogued;
    auto all = realm().objects();
    for (int i = 0; i < all.size(); ++i)
        catalogued.insert(all.at(i)->fileName());
    pending_ = findOrphans(catalogued);
    recoverNext();
}

void SegmentRecovery::recoverNext() {
    current_.reset();
    if (pending_.empty()) {
        running_ = false;
        if (auto done = std::exchange(done_, {}))
            done();
        return;
    }
    auto next = pending_.extract(pending_.begin());
    current_ = RecordManager::recovered(next.key(), next.mapped());
    const QString name = current_->recordName();
    const QString fileName = current_->fileName();
    std::weak_ptr<bool> alive = alive_;
    current_->finalise(
        [this, alive, name, fileName](bool success, std::optional<ErrorRecord> error) {
            dispatchToMain([this, alive, name, fileName, success, error] {
                if (alive.expired())
                    return;
                if (success) {
                    Logging::write("Recording recovered: " + fileName, EventLoging::info);
                    recovered_(name, fileName);
                } else {
                    Logging::write("Recording not recovered: " + fileName + " " +
                                       rawValue(error.value_or(ErrorRecord::margeUnknow)),
                                   EventLoging::error);
                }
                recoverNext();
            });
        });
}

} // namespace orvo
