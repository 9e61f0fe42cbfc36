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
    ImportPlan planImport(const QString& source) override;
    std::optional<QString> importFile(const QString& source, const QString& destination,
                                      const std::atomic<bool>& cancelled) override;
    EchoFreeCopy writeWithoutEcho(const QString& source, const QString& destination, int nearStream,
                                  int farStream, EchoCanceller& canceller,
                                  const std::atomic<bool>& cancelled) override;
};

} // namespace orvo
