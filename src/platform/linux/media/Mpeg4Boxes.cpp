#include "platform/linux/media/Mpeg4Boxes.h"

#include <algorithm>
#include <limits>

#include <QList>
#include <QtEndian>

namespace orvo {

namespace {

// A long segment has a fragment every half second; reading this much at a time takes the
// headers of several fragments in one read instead of a seek and a read for each box.
constexpr qsizetype windowBytes = 64 * 1024;

// The boxes FFmpeg reads as a list of boxes, so that a track box may stand in any of them.
bool holdsBoxes(const QByteArray& type) {
    static const QList<QByteArray> containers{"moov", "trak", "mdia", "minf", "stbl",
                                              "dinf", "edts", "udta", "mvex", "moof",
                                              "traf", "tref", "mfra"};
    return containers.contains(type);
}

} // namespace

Mpeg4Boxes::Mpeg4Boxes(const QString& path) : file_(path) {
    open_ = file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 Mpeg4Boxes::wholeBoxesEnd(const QString& path) {
    Mpeg4Boxes boxes(path);
    if (!boxes.open_) {
        return 0;
    }
    const qint64 size = boxes.file_.size();
    qint64 at = 0;
    for (auto box = boxes.boxAt(at, size); box && box->whole; box = boxes.boxAt(at, size)) {
        at = box->end;
    }
    return at;
}

// FFmpeg 5.1 takes a fragment read while a track has no id for the index of an error, and then
// scans two thousand million places for every run of samples after it: a third of a second a
// fragment, an hour for a long segment with one damaged track header. Every file the program
// writes has its tracks in the movie box, each with a header and its id.
bool Mpeg4Boxes::tracksHaveIds(const QString& path, qint64 end) {
    Mpeg4Boxes boxes(path);
    return !boxes.open_ || boxes.tracksHaveIds(0, std::min(end, boxes.file_.size()), {}, 0);
}

// Up to count bytes at `at`: fewer at the end of the file, none past it. The view lasts until
// the next call.
QByteArrayView Mpeg4Boxes::bytesAt(qint64 at, qsizetype count) {
    if (at < windowStart_ || at + count > windowStart_ + window_.size()) {
        if (!file_.seek(at)) {
            return {};
        }
        windowStart_ = at;
        window_ = file_.read(std::max(windowBytes, count));
    }
    const qsizetype offset = qsizetype(at - windowStart_);
    return QByteArrayView(window_).sliced(offset, std::min(count, window_.size() - offset));
}

// The box at `at` in a parent that ends at `end`. A box starts with its size (1: a 64-bit size
// follows the type; 0: up to the parent's end) and its type.
std::optional<Mpeg4Boxes::Box> Mpeg4Boxes::boxAt(qint64 at, qint64 end) {
    if (end - at < 8) {
        return std::nullopt;
    }
    const QByteArrayView header = bytesAt(at, 16);
    if (header.size() < 8) {
        return std::nullopt;
    }
    quint64 size = qFromBigEndian<quint32>(header.data());
    qint64 headerBytes = 8;
    if (size == 1) {
        if (header.size() < 16) {
            return std::nullopt;
        }
        size = qFromBigEndian<quint64>(header.data() + 8);
        headerBytes = 16;
    } else if (size == 0) {
        size = quint64(end - at);
    }
    if (size < quint64(headerBytes)) {
        return std::nullopt;
    }
    const bool whole = size <= quint64(end - at);
    return Box{header.sliced(4, 4).toByteArray(), at + headerBytes, whole ? at + qint64(size) : end,
               whole};
}

// The track id of a track header box: after its version and flags come two times (of 4 bytes
// each in version 0, of 8 in version 1), then the id.
std::optional<quint32> Mpeg4Boxes::trackIdOf(const Box& header) {
    const QByteArrayView fields = bytesAt(header.contents, 24);
    const qsizetype at = !fields.isEmpty() && fields.at(0) == 1 ? 20 : 12;
    if (header.end - header.contents < at + 4 || fields.size() < at + 4) {
        return std::nullopt;
    }
    return qFromBigEndian<quint32>(fields.data() + at);
}

// Whether a track box has a header whose id FFmpeg takes for one: a positive 32-bit number.
bool Mpeg4Boxes::trackHasAnId(const Box& track) {
    bool found = false;
    for (auto box = boxAt(track.contents, track.end); box; box = boxAt(box->end, track.end)) {
        if (box->type == "tkhd") {
            const auto id = trackIdOf(*box);
            if (!id || *id == 0 || *id > quint32(std::numeric_limits<qint32>::max())) {
                return false;
            }
            found = true;
        }
    }
    return found;
}

bool Mpeg4Boxes::tracksHaveIds(qint64 from, qint64 end, const QByteArray& parent, int depth) {
    // FFmpeg gives up on boxes nested deeper than this.
    constexpr int deepest = 10;
    if (depth > deepest) {
        return true;
    }
    for (auto box = boxAt(from, end); box; box = boxAt(box->end, end)) {
        if (box->type == "trak" && (parent != "moov" || depth != 1 || !trackHasAnId(*box))) {
            return false;
        }
        if (holdsBoxes(box->type) &&
            !tracksHaveIds(box->contents, box->end, box->type, depth + 1)) {
            return false;
        }
    }
    return true;
}

} // namespace orvo
