#pragma once

#include <optional>
#include <vector>

#include <QString>

#include "platform/Media.h"
#include "platform/MediaComposition.h"

namespace orvo {

// The tracks a recording's segments hold, and how they make the merged file: the mixed track
// first and each side after it, copied; or, without a usable mix, the sides mixed again. The
// near side's track may be the one written without the far side's echo.
class SegmentTracks {
public:
    // Reads the segment files; one that cannot be read is left out, the others still count,
    // and the layout says so unless it holds nothing (missing, empty, or a header without
    // media).
    static SegmentTracks read(const std::vector<QString>& segments);
    // The same in two steps, for a caller that looks into the files first: the segments' files
    // as read (those of another kind left unread), and the tracks of what load read.
    static std::vector<MediaAsset> load(const std::vector<QString>& segments);
    static SegmentTracks of(const std::vector<MediaAsset>& assets);

    // Whether path is the segment of the mixed track a recording of several sources writes
    // beside theirs: the stamp, "_mix", the audio extension.
    static bool isMixSegment(const QString& path);
    // Whether path is the segment of the near side written without the far side's echo: the
    // stamp, "_echofree", the audio extension.
    static bool isEchoFreeSegment(const QString& path);

    struct Layout {
        bool anyMedia = false;
        bool remux = false; // the mixed track and the sides are copied, nothing is encoded
        bool everySegmentRead = true; // false: one with data could not be read: left out
    };
    // withoutEcho: the near side's echo-free segment, when there is a whole one, stands in for
    // its recorded one beside a copied mix (the composition then says so).
    Layout compose(MediaComposition& composition, bool withoutEcho) const;

private:
    // A side of the call, and which source it is: its segment's index, so that it keeps its
    // name when the other side left nothing to read.
    struct Side {
        MediaAssetTrack track;
        std::size_t source = 0;
    };

    // The sources of one recording were captured together: each began before the others
    // ended. Start tags that say otherwise were damaged, and then none is trusted.
    void dropImplausibleStarts();

    std::optional<MediaAssetTrack> mix_;
    std::optional<MediaAssetTrack> echoFree_;
    std::vector<Side> sides_;
    std::vector<MediaAssetTrack> videos_;
    bool everySegmentRead_ = true;
};

} // namespace orvo
