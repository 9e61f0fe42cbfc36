#include "audio/CallDetector.h"

#include <algorithm>

namespace orvo {
namespace {

// Below this a capture carries no voice: a level meter's few values a second.
constexpr std::uint32_t lowestVoiceRate = 4000;

QString nameOf(const ProgramStream& stream) {
    if (!stream.applicationName.isEmpty()) {
        return stream.applicationName;
    }
    if (!stream.processBinary.isEmpty()) {
        return stream.processBinary;
    }
    return stream.processID ? QStringLiteral("process %1").arg(*stream.processID)
                            : QStringLiteral("a program");
}

bool isCapture(const ProgramStream& stream) {
    return stream.direction == ProgramStream::Direction::capture;
}

} // namespace

CallDetectionMode callDetectionModeOf(const QString& setting) {
    if (setting == QLatin1String("Off")) {
        return CallDetectionMode::off;
    }
    return setting == QLatin1String("Record") ? CallDetectionMode::record
                                              : CallDetectionMode::suggest;
}

QString settingOf(CallDetectionMode mode) {
    switch (mode) {
    case CallDetectionMode::off:
        return QStringLiteral("Off");
    case CallDetectionMode::record:
        return QStringLiteral("Record");
    case CallDetectionMode::suggest:
        break;
    }
    return QStringLiteral("Suggest");
}

CallDetector::CallDetector(std::int64_t ownProcessID) : CallDetector(ownProcessID, Timing()) {}

CallDetector::CallDetector(std::int64_t ownProcessID, Timing timing)
    : ownProcessID_(ownProcessID), timing_(timing) {}

std::variant<QString, CallDetector::Application>
CallDetector::judge(const ProgramStream& capture) const {
    if (capture.processID == ownProcessID_) {
        return QStringLiteral("the program's own capture");
    }
    if (capture.readsOutput) {
        return QStringLiteral("it records an output's monitor");
    }
    if (capture.measuresOnly || (capture.rate > 0 && capture.rate < lowestVoiceRate)) {
        return QStringLiteral("a level meter");
    }
    if (capture.mediaRole == QLatin1String("production")) {
        return QStringLiteral("a production capture");
    }
    if (!capture.processID) {
        return QStringLiteral("no process");
    }
    if (auto application = applicationOf(capture)) {
        return *std::move(application);
    }
    return QStringLiteral("not a calling program");
}

std::optional<CallDetector::Application> CallDetector::applicationOf(const ProgramStream& stream) {
    if (const CallProgram* program = callProgramOf(stream)) {
        return Application{program->name, program->name, program->kind,
                           program->messenger.value_or(program->name + ".app"), program};
    }
    if (isCallRole(stream) && stream.processID) {
        const QString name = nameOf(stream);
        return Application{QStringLiteral("process %1").arg(*stream.processID), name,
                           CallProgram::Kind::calling, name + ".app", nullptr};
    }
    return std::nullopt;
}

bool CallDetector::belongsTo(const ProgramStream& stream, const Tracked& tracked) {
    if (stream.processID && tracked.processes.contains(*stream.processID)) {
        return true;
    }
    return tracked.application.program != nullptr &&
           callProgramOf(stream) == tracked.application.program;
}

std::chrono::milliseconds CallDetector::confirmationOf(const Tracked& tracked) const {
    return tracked.application.kind == CallProgram::Kind::calling
               ? timing_.callingConfirmation
               : timing_.browserOrChatConfirmation;
}

std::vector<CallDetector::Decision> CallDetector::update(const std::vector<ProgramStream>& streams,
                                                         Clock::time_point now) {
    std::vector<Decision> decisions;
    decideCaptures(streams, decisions);
    for (auto it = tracked_.begin(); it != tracked_.end();) {
        if (follow(it->second, streams, now, decisions)) {
            ++it;
        } else {
            it = tracked_.erase(it);
        }
    }
    return decisions;
}

void CallDetector::decideCaptures(const std::vector<ProgramStream>& streams,
                                  std::vector<Decision>& decisions) {
    // Each capture is decided once, when it first shows; those gone are forgotten.
    std::map<std::uint32_t, std::optional<QString>> live;
    for (const ProgramStream& capture : streams) {
        if (!isCapture(capture)) {
            continue;
        }
        if (const auto known = decided_.find(capture.id); known != decided_.end()) {
            live.insert(*known);
            continue;
        }
        auto verdict = judge(capture);
        if (const auto* reason = std::get_if<QString>(&verdict)) {
            decisions.push_back(
                {Decision::Kind::ignored, nameOf(capture), capture.id, capture.processID, *reason});
            live[capture.id] = std::nullopt;
            continue;
        }
        const auto& application = std::get<Application>(verdict);
        decisions.push_back({Decision::Kind::candidate, application.name, capture.id,
                             capture.processID, QString()});
        live[capture.id] = application.key;
        auto [entry, added] = tracked_.try_emplace(application.key);
        if (added) {
            entry->second.application = application;
        }
        entry->second.processes.insert(*capture.processID);
    }
    decided_ = std::move(live);
}

bool CallDetector::follow(Tracked& tracked, const std::vector<ProgramStream>& streams,
                          Clock::time_point now, std::vector<Decision>& decisions) {
    bool captured = false;
    bool capturing = false;
    bool played = false;
    bool playing = false;
    for (const ProgramStream& stream : streams) {
        if (isCapture(stream)) {
            const auto decided = decided_.find(stream.id);
            if (decided != decided_.end() && decided->second == tracked.application.key) {
                captured = true;
                capturing = capturing || !stream.paused;
            }
        } else if (stream.processID != ownProcessID_ && belongsTo(stream, tracked)) {
            played = true;
            playing = playing || !stream.paused;
        }
    }
    const QString& name = tracked.application.name;
    if (!tracked.confirmedAt) {
        if (!captured) {
            decisions.push_back({Decision::Kind::ignored, name, 0, std::nullopt,
                                 QStringLiteral("it did not record and play together for %1 s")
                                     .arg(confirmationOf(tracked).count() / 1000.0)});
            return false;
        }
        if (!capturing || !playing) {
            tracked.bothSince.reset();
            return true;
        }
        tracked.bothSince = tracked.bothSince.value_or(now);
        if (now - *tracked.bothSince >= confirmationOf(tracked)) {
            tracked.confirmedAt = now;
            tracked.lastHeard = now;
            tracked.present = true;
            decisions.push_back({Decision::Kind::confirmed, name, 0, std::nullopt, QString()});
        }
        return true;
    }
    // Streams that were there until this update were heard until now.
    const bool present = captured || played;
    if (present || tracked.present) {
        tracked.lastHeard = now;
    }
    tracked.present = present;
    if (!present && now - tracked.lastHeard >= timing_.end) {
        decisions.push_back({Decision::Kind::ended, name, 0, std::nullopt, QString()});
        return false;
    }
    return true;
}

std::optional<CallDetector::Clock::time_point> CallDetector::nextDeadline() const {
    std::optional<Clock::time_point> next;
    for (const auto& [key, tracked] : tracked_) {
        std::optional<Clock::time_point> due;
        if (tracked.confirmedAt) {
            due = tracked.lastHeard + timing_.end;
        } else if (tracked.bothSince) {
            due = *tracked.bothSince + confirmationOf(tracked);
        }
        if (due && (!next || *due < *next)) {
            next = due;
        }
    }
    return next;
}

std::vector<CallDetector::Call> CallDetector::calls() const {
    std::vector<const Tracked*> confirmed;
    for (const auto& [key, tracked] : tracked_) {
        if (tracked.confirmedAt) {
            confirmed.push_back(&tracked);
        }
    }
    std::sort(confirmed.begin(), confirmed.end(),
              [](const Tracked* a, const Tracked* b) { return *a->confirmedAt < *b->confirmedAt; });
    std::vector<Call> calls;
    for (const Tracked* tracked : confirmed) {
        calls.push_back({tracked->application.name, tracked->application.messenger});
    }
    return calls;
}

} // namespace orvo
