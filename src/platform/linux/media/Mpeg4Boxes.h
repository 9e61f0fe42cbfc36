#pragma once

#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

namespace orvo {

// The box tree of an MPEG-4 file, read before FFmpeg is given it: where the file's whole boxes
// end, and whether every track has an id FFmpeg can index fragments by.
class Mpeg4Boxes {
public:
    // Where the last whole top-level box ends; 0 for a file that cannot be read.
    static qint64 wholeBoxesEnd(const QString& path);
    // Whether, in the first `end` bytes, every track box stands in the movie box with a header
    // and a positive 32-bit id. A file that cannot be read passes: opening it fails anyway.
    static bool tracksHaveIds(const QString& path, qint64 end);

private:
    // One box: its type, where its contents lie, and whether it ends within its parent (else it
    // is read up to the parent's end, as FFmpeg does).
    struct Box {
        QByteArray type;
        qint64 contents = 0;
        qint64 end = 0;
        bool whole = true;
    };

    explicit Mpeg4Boxes(const QString& path);

    QByteArrayView bytesAt(qint64 at, qsizetype count);
    std::optional<Box> boxAt(qint64 at, qint64 end);
    std::optional<quint32> trackIdOf(const Box& header);
    bool trackHasAnId(const Box& track);
    bool tracksHaveIds(qint64 from, qint64 end, const QByteArray& parent, int depth);

    QFile file_;
    bool open_ = false;
    qint64 windowStart_ = 0;
    QByteArray window_;
};

} // namespace orvo
