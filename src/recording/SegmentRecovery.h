#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include <QString>

namespace orvo {

class RecordManager;

// Finds the segments that a crash, a kill or a logout left without a catalogue entry, and
// merges them one recording after another by the normal merge, under their own names. What
// cannot be merged now (no room, a failed export) stays for the next start. Main thread only;
// lives until done has run.
class SegmentRecovery {
public:
    // Per stamp, the segment paths in the order of their index.
    using Orphans = std::map<QString, std::vector<QString>>;

    // recovered: the display name and file name of each recording that reached the catalogue.
    using Recovered = std::function<void(const QString& name, const QString& fileName)>;
    explicit SegmentRecovery(Recovered recovered);
    ~SegmentRecovery();
    SegmentRecovery(const SegmentRecovery&) = delete;
    SegmentRecovery& operator=(const SegmentRecovery&) = delete;

    // The segments of the records folders whose recording has no entry among catalogued
    // (file names of the catalogue).
    static Orphans findOrphans(const std::set<QString>& catalogued);

    // Recovers every orphan of the catalogue as it is now; done runs on the main thread after
    // the last one.
    void start(std::function<void()> done = {});
    bool isRunning() const { return running_; }

private:
    void recoverNext();

    Recovered recovered_;
    std::function<void()> done_;
    Orphans pending_;
    std::shared_ptr<RecordManager> current_;
    bool running_ = false;
    // Expires with this object, so that a late outcome finds nothing to continue.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace orvo
