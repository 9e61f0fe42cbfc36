// A recording that a killed recorder left behind, one of its segments replaced by any bytes:
// the recovery that runs at start merges it into a file that plays, with a track for each
// intact segment lasting as long as it less a second, or it reports the failure and keeps
// every segment as it was. Either way it ends, and soon. A segment cut off anywhere after its
// header is what a kill or a power cut leaves: that recording is always recovered, with what
// the cut segment still holds.
//
// The first byte picks the recording and which of its segments the rest of the input replaces.
// The intact segments come from the capture's own writers, once per process, cut off where a
// kill leaves them (the fragment being written is lost).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <memory>
#include <numbers>
#include <optional>
#include <vector>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include "FuzzCheck.h"
#include "platform/Platform.h"
#include "platform/linux/capture/AacSegmentWriter.h"
#include "platform/linux/capture/CaptureQuality.h"
#include "platform/linux/capture/H264SegmentWriter.h"
#include "platform/linux/media/FFmpegHandles.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "recording/SegmentRecovery.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "store/Realm.h"
#include "store/RealmManager.h"
#include "store/Results.h"

namespace {

using orvo::fuzz::check;

const QString stamp = QStringLiteral("20240501100000");
constexpr std::int64_t captureStartMicroseconds = 1714557600000000;
// Written before the kill; what reaches the disk ends at the last whole fragment.
constexpr double writtenSeconds = 2.2;
constexpr double slackSeconds = 1.0;
// A two-second recording whose recovery works longer than this is stuck somewhere. Counted in
// processor time: on a busy machine a recovery of half a second took over 8 s of the clock.
constexpr double recoveryBoundSeconds = 8.0;
// One asleep in a wait uses no processor time; the clock still ends it.
constexpr int recoveryAsleepBoundMs = 60000;

// Of every thread: the merge runs on threads of its own.
double processorSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

enum class Role { microphone, farSide, mix, screen };

struct Source;

struct Segment {
    Role role;
    QString path;
    const Source* source;
    QByteArray bytes;
    double seconds = 0.0; // what it holds that a merge must keep
    bool intact = true;
    bool cutAfterHeader = false;
};

struct Recording {
    bool video = false;
    std::vector<Segment> segments;
};

// The layouts a recorder leaves: a call (both sides and their mix), a single source, and a
// screen with the microphone.
enum class Layout { call, single, screen };

struct Scenario {
    Layout layout;
    Role fuzzed;
};

constexpr Scenario scenarios[] = {
    {Layout::call, Role::microphone}, {Layout::call, Role::farSide},
    {Layout::call, Role::mix},        {Layout::single, Role::microphone},
    {Layout::screen, Role::screen},   {Layout::screen, Role::microphone},
};

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    check(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(),
          "a segment is written");
}

// One stream of a file as plain FFmpeg reads it back, without the program's own limits.
struct ReadStream {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    QString title;
    bool isDefault = false;
    double seconds = 0.0;
    std::vector<orvo::ffmpeg::Packet> packets; // as read, kept to decode or compare later
};

struct ReadFile {
    orvo::ffmpeg::InputContext input;
    std::vector<ReadStream> streams;
};

std::optional<ReadFile> readBack(const QString& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return std::nullopt;
    ReadFile file{orvo::ffmpeg::InputContext(raw), {}};
    AVFormatContext* input = file.input.get();
    // No avformat_find_stream_info: the merge already proved its file through it, a source is
    // decoded whole by decodes(), the MP4 header holds all that is compared here, and under the
    // address sanitizer each AAC decoder it opens costs a fresh half-megabyte mapping, a quarter
    // of a run.
    file.streams.resize(input->nb_streams);
    std::vector<std::int64_t> first(input->nb_streams, AV_NOPTS_VALUE);
    std::vector<std::int64_t> end(input->nb_streams, AV_NOPTS_VALUE);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        ReadStream& read = file.streams[i];
        read.type = stream->codecpar->codec_type;
        read.isDefault = (stream->disposition & AV_DISPOSITION_DEFAULT) != 0;
        for (const char* key : {"title", "handler_name"}) {
            const AVDictionaryEntry* entry = av_dict_get(stream->metadata, key, nullptr, 0);
            if (entry != nullptr && read.title.isEmpty())
                read.title = QString::fromUtf8(entry->value);
        }
    }
    for (auto packet = orvo::ffmpeg::makePacket(); av_read_frame(input, packet.get()) >= 0;
         packet = orvo::ffmpeg::makePacket()) {
        const auto i = std::size_t(packet->stream_index);
        if (packet->pts != AV_NOPTS_VALUE) {
            if (first[i] == AV_NOPTS_VALUE || packet->pts < first[i])
                first[i] = packet->pts;
            if (end[i] == AV_NOPTS_VALUE || packet->pts + packet->duration > end[i])
                end[i] = packet->pts + packet->duration;
        }
        file.streams[i].packets.push_back(std::move(packet));
    }
    for (std::size_t i = 0; i < file.streams.size(); ++i) {
        if (first[i] != AV_NOPTS_VALUE)
            file.streams[i].seconds =
                double(end[i] - first[i]) * av_q2d(input->streams[i]->time_base);
    }
    return file;
}

bool decodes(const ReadFile& file, std::size_t index) {
    QString error;
    const auto decoder = orvo::ffmpeg::openDecoder(file.input->streams[index], &error);
    if (!decoder)
        return false;
    bool decoded = true;
    orvo::ffmpeg::Frame frame = orvo::ffmpeg::makeFrame();
    for (const auto& packet : file.streams[index].packets) {
        if (avcodec_send_packet(decoder.get(), packet.get()) < 0)
            decoded = false;
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
        }
    }
    return decoded;
}

// A segment as the writers made it, read back (and decoded) once.
struct Source {
    QString path;
    QByteArray bytes;
    ReadFile read;
    double seconds = 0.0;

    // What is left of it when a kill cuts it after withinBytes: the packets that lie wholly
    // before the cut.
    double secondsWithin(qsizetype withinBytes) const {
        std::int64_t first = AV_NOPTS_VALUE;
        std::int64_t end = AV_NOPTS_VALUE;
        for (const auto& packet : read.streams.front().packets) {
            if (packet->pos + packet->size > withinBytes)
                break;
            if (packet->pts == AV_NOPTS_VALUE)
                continue;
            if (first == AV_NOPTS_VALUE || packet->pts < first)
                first = packet->pts;
            if (end == AV_NOPTS_VALUE || packet->pts + packet->duration > end)
                end = packet->pts + packet->duration;
        }
        return first == AV_NOPTS_VALUE
                   ? 0.0
                   : double(end - first) * av_q2d(read.input->streams[0]->time_base);
    }

    // Whether a stream holds exactly this segment's packets for the same decoder set-up: those
    // decode as they did when it was made, so only a track made anew needs decoding.
    bool sameMediaAs(const ReadFile& file, std::size_t index) const {
        const AVCodecParameters* own = read.input->streams[0]->codecpar;
        const AVCodecParameters* other = file.input->streams[index]->codecpar;
        const auto bytesOf = [](const AVCodecParameters* parameters) {
            return QByteArray::fromRawData(reinterpret_cast<const char*>(parameters->extradata),
                                           parameters->extradata_size);
        };
        const auto& ownPackets = read.streams.front().packets;
        const auto& otherPackets = file.streams[index].packets;
        if (own->codec_id != other->codec_id || bytesOf(own) != bytesOf(other) ||
            own->sample_rate != other->sample_rate ||
            own->ch_layout.nb_channels != other->ch_layout.nb_channels ||
            own->width != other->width || own->height != other->height ||
            ownPackets.size() != otherPackets.size())
            return false;
        return std::equal(ownPackets.begin(), ownPackets.end(), otherPackets.begin(),
                          [](const auto& a, const auto& b) {
                              return a->size == b->size &&
                                     std::equal(a->data, a->data + a->size, b->data);
                          });
    }
};

// An AAC segment of a tone, as the capture writes it until the process is killed.
void writeTone(const QString& path, orvo::AacSegmentWriter::Layout layout, double frequency) {
    orvo::AacSegmentWriter writer;
    const int bitRate = orvo::captureQuality(orvo::SessionPreset::low).audioBitRate;
    check(!writer.open(path, "ipod", bitRate, captureStartMicroseconds, layout),
          "the AAC writer opens");
    constexpr int rate = orvo::AacSegmentWriter::sampleRate;
    constexpr int block = rate / 100;
    std::vector<float> samples(std::size_t(block * orvo::AacSegmentWriter::channels));
    for (int at = 0; at < int(writtenSeconds * rate); at += block) {
        for (int i = 0; i < block; ++i) {
            const float value =
                0.3f * float(std::sin(2.0 * std::numbers::pi * frequency * (at + i) / rate));
            samples[std::size_t(2 * i)] = value;
            samples[std::size_t(2 * i + 1)] = value;
        }
        check(!writer.write(samples.data(), block), "the AAC writer writes");
    }
}

// An H.264 segment of a small moving picture, as the screen capture writes it until the kill.
void writeScreen(const QString& path) {
    const auto quality = orvo::captureQuality(orvo::SessionPreset::low);
    constexpr int width = 64;
    constexpr int height = 48;
    orvo::H264SegmentWriter writer;
    check(!writer.open(path, "mov", width, height, quality, captureStartMicroseconds),
          "the H.264 writer opens");
    orvo::ffmpeg::Frame picture = orvo::ffmpeg::makeFrame();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    check(av_frame_get_buffer(picture.get(), 0) >= 0, "a picture is allocated");
    for (int index = 0; index < int(writtenSeconds * quality.videoFrameRate); ++index) {
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? height : height / 2;
            for (int y = 0; y < rows; ++y) {
                for (int x = 0; x < picture->linesize[plane]; ++x)
                    picture->data[plane][y * picture->linesize[plane] + x] =
                        std::uint8_t(plane == 0 ? (x + y + 4 * index) : 128);
            }
        }
        check(!writer.write(*picture, index), "the H.264 writer writes");
    }
}

// The segments of each kind, made once.
struct Sources {
    Source microphone; // a side beside a mix: mono speech
    Source farSide;
    Source stereo; // the mix, or the only source
    Source screen;
};

Source madeSource(const QString& path) {
    auto read = readBack(path);
    check(read && read->streams.size() == 1 && decodes(*read, 0), "a written segment reads");
    const double seconds = read->streams.front().seconds;
    return {path, contentsOf(path), std::move(*read), seconds};
}

Sources makeSources(const QString& folder) {
    using Layout = orvo::AacSegmentWriter::Layout;
    writeTone(folder + "/microphone.m4a", Layout::speechMono, 440.0);
    writeTone(folder + "/far-side.m4a", Layout::speechMono, 660.0);
    writeTone(folder + "/stereo.m4a", Layout::stereo, 550.0);
    writeScreen(folder + "/screen.mov");
    return {madeSource(folder + "/microphone.m4a"), madeSource(folder + "/far-side.m4a"),
            madeSource(folder + "/stereo.m4a"), madeSource(folder + "/screen.mov")};
}

Segment segmentOf(Role role, const QString& path, const Source& source) {
    return {role, path, &source, source.bytes, source.seconds};
}

Recording recordingOf(const Sources& sources, Layout layout) {
    const QString audio = orvo::API::audioRecordsPath() + stamp;
    const QString video = orvo::API::videoRecordsPath() + stamp;
    switch (layout) {
    case Layout::call:
        return {false,
                {segmentOf(Role::microphone, audio + "_0.m4a", sources.microphone),
                 segmentOf(Role::farSide, audio + "_1.m4a", sources.farSide),
                 segmentOf(Role::mix, audio + "_mix.m4a", sources.stereo)}};
    case Layout::single:
        return {false, {segmentOf(Role::microphone, audio + "_0.m4a", sources.stereo)}};
    case Layout::screen:
        return {true,
                {segmentOf(Role::microphone, audio + "_0.m4a", sources.stereo),
                 segmentOf(Role::screen, video + "_1.mov", sources.screen)}};
    }
    return {};
}

QStringList recordFiles() {
    QStringList files;
    for (const QString& folder : {orvo::API::audioRecordsPath(), orvo::API::videoRecordsPath()}) {
        for (const QString& name : QDir(folder).entryList(QDir::Files))
            files << folder + name;
    }
    return files;
}

std::shared_ptr<orvo::RealmRecordModel> recordOf(const QString& fileName) {
    const auto found = orvo::realm().objects().filter("fileName == %@", {fileName});
    return found.isEmpty() ? nullptr : found.at(0);
}

// The stream of the merged file that carries an intact segment's media; nullptr when none.
const ReadStream* streamOf(const std::vector<ReadStream>& streams, Role role, bool video) {
    const auto first = [&](AVMediaType type) -> const ReadStream* {
        for (const ReadStream& stream : streams) {
            if (stream.type == type)
                return &stream;
        }
        return nullptr;
    };
    if (role == Role::screen)
        return first(AVMEDIA_TYPE_VIDEO);
    if (video)
        return first(AVMEDIA_TYPE_AUDIO);
    const auto audioCount = std::count_if(
        streams.begin(), streams.end(), [](const auto& s) { return s.type == AVMEDIA_TYPE_AUDIO; });
    // A single track is the mix of whatever sides there were.
    if (audioCount == 1)
        return first(AVMEDIA_TYPE_AUDIO);
    // Each side by its name; the mix is the default track, named by neither.
    const QString you = QStringLiteral("You");
    const QString them = QStringLiteral("Them");
    for (const ReadStream& stream : streams) {
        if (stream.type != AVMEDIA_TYPE_AUDIO)
            continue;
        if ((role == Role::microphone && stream.title == you) ||
            (role == Role::farSide && stream.title == them) ||
            (role == Role::mix && stream.isDefault && stream.title != you && stream.title != them))
            return &stream;
    }
    return nullptr;
}

void checkMerged(const Recording& recording, const QString& merged) {
    const auto file = readBack(merged);
    check(file.has_value() && !file->streams.empty(), "the merged file reads back");
    for (const Segment& segment : recording.segments) {
        // A cut segment with less than the slack left may be left out.
        if (!segment.intact && (!segment.cutAfterHeader || segment.seconds < slackSeconds))
            continue;
        const ReadStream* stream = streamOf(file->streams, segment.role, recording.video);
        check(stream != nullptr, "the merged file has a track for each intact segment");
        const auto index = std::size_t(stream - file->streams.data());
        check(!segment.intact || segment.source->sameMediaAs(*file, index) || decodes(*file, index),
              "an intact segment's track decodes");
        check(stream->seconds >= segment.seconds - slackSeconds,
              "a segment's track lasts as long as what it held, less a second");
    }
}

// The length of the file type and index boxes ahead of the first fragment.
qsizetype headerBytes(const QByteArray& segment) {
    const qsizetype fragment = segment.indexOf("moof");
    check(fragment >= 4, "a written segment has fragments");
    return fragment - 4;
}

struct Harness {
    explicit Harness(const QString& folderTemplate) : home(folderTemplate) {
        check(home.isValid(), "a temporary home");
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
        QDir(home.path()).mkpath("Documents");
        orvo::CopyFiles::checkFilesAndCopy();
        check(orvo::Realm::setDefaultConfiguration({orvo::API::recordsRealmPath(), 1}),
              "the catalogue is configured");
        orvo::Platform::shared().install<orvo::Media>(std::make_unique<orvo::FFmpegMedia>());
        // What FFmpeg says of each damaged input would drown the fuzzer's own report, whatever
        // level the program sets.
        av_log_set_callback([](void*, int, const char*, va_list) {});
        QDir(home.path()).mkpath("sources");
        sources = makeSources(home.filePath("sources"));
    }
    QTemporaryDir home;
    Sources sources;
};

Harness& harness() {
    orvo::fuzz::ensureApplication();
    // Destroyed at exit, so that its home does not stay in the memory file system.
    static Harness made(orvo::fuzz::scratchRoot() + "/fuzz-segments-XXXXXX");
    return made;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    Harness& fixture = harness();
    const Scenario scenario = scenarios[data[0] % std::size(scenarios)];
    Recording recording = recordingOf(fixture.sources, scenario.layout);
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    for (Segment& segment : recording.segments) {
        if (segment.role == scenario.fuzzed) {
            segment.cutAfterHeader =
                bytes.size() >= headerBytes(segment.bytes) && segment.bytes.startsWith(bytes);
            segment.intact = segment.bytes == bytes;
            segment.bytes = bytes;
            if (segment.cutAfterHeader)
                segment.seconds = segment.source->secondsWithin(bytes.size());
        }
        writeFile(segment.path, segment.bytes);
    }
    // Unless nothing is left of it at all, such a recording must come back.
    const bool cut =
        std::any_of(recording.segments.begin(), recording.segments.end(),
                    [](const Segment& segment) { return segment.cutAfterHeader; }) &&
        std::any_of(recording.segments.begin(), recording.segments.end(),
                    [](const Segment& segment) { return segment.intact || segment.seconds > 0.0; });

    std::vector<QString> recovered;
    bool done = false;
    {
        // Waits asleep: processEvents with a time never waits, and a loop of it would take the
        // core that the merge runs on.
        QEventLoop loop;
        QTimer::singleShot(recoveryAsleepBoundMs, &loop, &QEventLoop::quit);
        const double startedAt = processorSeconds();
        QTimer watch;
        watch.callOnTimeout([&] {
            if (processorSeconds() - startedAt > recoveryBoundSeconds)
                loop.quit();
        });
        watch.start(100);
        orvo::SegmentRecovery recovery(
            [&](const QString& name, const QString&) { recovered.push_back(name); });
        recovery.start([&] {
            done = true;
            loop.quit();
        });
        if (!done) {
            loop.exec();
        }
        check(done, "the recovery of a two-second recording ends within its bound");
    }

    const QString fileName = stamp + (recording.video ? ".mov" : ".m4a");
    const QString merged =
        (recording.video ? orvo::API::videoRecordsPath() : orvo::API::audioRecordsPath()) +
        fileName;
    const auto record = recordOf(fileName);
    check((record != nullptr) == (recovered.size() == 1),
          "a recording is said recovered exactly when the catalogue holds it");
    check(record != nullptr || !cut,
          "a recording with a segment cut after its header is recovered");
    if (record) {
        check(recordFiles() == QStringList{merged}, "the segments go once the merge is catalogued");
        checkMerged(recording, merged);
        orvo::RealmManager::deleteObject(record);
    } else {
        for (const Segment& segment : recording.segments) {
            check(contentsOf(segment.path) == segment.bytes,
                  "a recording not recovered keeps every segment as it was");
        }
    }
    for (const QString& file : recordFiles())
        QFile::remove(file);
    check(recordOf(fileName) == nullptr, "the next run starts from an empty catalogue");
    return 0;
}
