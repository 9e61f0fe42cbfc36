#pragma once

#include "platform/Media.h"

namespace orvo {

// Assets probed and compositions exported with FFmpeg.
class FFmpegMedia final : public Media {
public:
    FFmpegMedia();
    MediaAsset loadAsset(const QString& path) override;
    std::unique_ptr<ExportSession> makeExportSession(const MediaComposition& composition,
                                                     const QString& presetName) override;
};

} // namespace orvo
