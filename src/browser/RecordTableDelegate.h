#pragma once

#include <memory>

namespace orvo {

class RealmRecordModel;
class RecordTableViewController;

// What the records table asks of the window that holds it: play a record, hide a player.
class RecordTableDelegate {
public:
    virtual ~RecordTableDelegate() = default;
    virtual void recordTable(RecordTableViewController& table,
                             const std::shared_ptr<RealmRecordModel>& didSelectRecrd) = 0;
    virtual void hiddenAudioPlayer() = 0;
    virtual void hiddenVideoPlayer() = 0;
    // Pauses the record that plays, or plays it on; nothing when none is in the player.
    virtual void togglePlayback() {}
};

} // namespace orvo
