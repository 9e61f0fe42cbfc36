#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <variant>
#include <vector>

#include <QString>

#include "audio/CallPrograms.h"
#include "platform/AudioHardware.h"

namespace orvo {

// What happens when a call is detected, stored under "CallDetection" in the settings as "Off",
// "Suggest" or "Record"; any other value, the missing key too, is the default, suggest.
enum class CallDetectionMode { off, suggest, record };
inline const QString callDetectionSettingKey = QStringLiteral("CallDetection");
CallDetectionMode callDetectionModeOf(const QString& setting);
QString settingOf(CallDetectionMode mode);

// Tells a call from the programs' streams alone. A capture stream is a candidate when it is
// not the program's own, reads no output's monitor, only measures no level, is no production
// capture, has a process, and comes from a calling program (the table, or a conversation's
// role). The candidate's application is in a call once it has both captured and played,
// unpaused, for its confirmation time; the call ends once the application has neither
// captured nor played, paused streams included, for the end time. No thread of its own:
// the caller feeds it what the server shows and wakes it at nextDeadline.
class CallDetector {
public:
    using Clock = std::chrono::steady_clock;

    struct Timing {
        std::chrono::milliseconds callingConfirmation{2000};
        std::chrono::milliseconds browserOrChatConfirmation{10000};
        std::chrono::milliseconds end{20000};
    };

    struct Decision {
        enum class Kind { candidate, ignored, confirmed, ended };
        Kind kind = Kind::candidate;
        QString application;
        std::uint32_t stream = 0; // the capture stream decided on; 0 for the application
        std::optional<std::int64_t> processID;
        QString reason; // why it was ignored
    };

    struct Call {
        QString application;
        // The messenger a record of the call names: the table's, else "<application>.app".
        QString messenger;
    };

    explicit CallDetector(std::int64_t ownProcessID);
    CallDetector(std::int64_t ownProcessID, Timing timing);

    // The streams as the server shows them now; the decisions this made.
    std::vector<Decision> update(const std::vector<ProgramStream>& streams, Clock::time_point now);
    // When update must run again, with or without new streams; absent while nothing waits.
    std::optional<Clock::time_point> nextDeadline() const;
    // The calls confirmed and not yet ended, the first confirmed first.
    std::vector<Call> calls() const;

private:
    struct Application {
        QString key;
        QString name;
        CallProgram::Kind kind = CallProgram::Kind::calling;
        QString messenger;
        const CallProgram* program = nullptr;
    };
    struct Tracked {
        Application application;
        std::set<std::int64_t> processes;
        std::optional<Clock::time_point> bothSince; // unpaused capture and playback
        std::optional<Clock::time_point> confirmedAt;
        Clock::time_point lastHeard; // once confirmed
        bool present = false;        // at the last update, once confirmed
    };

    // Why a new capture is no call's, or the application it would be a call of.
    std::variant<QString, Application> judge(const ProgramStream& capture) const;
    static std::optional<Application> applicationOf(const ProgramStream& stream);
    static bool belongsTo(const ProgramStream& stream, const Tracked& tracked);
    std::chrono::milliseconds confirmationOf(const Tracked& tracked) const;
    void decideCaptures(const std::vector<ProgramStream>& streams,
                        std::vector<Decision>& decisions);
    // False once the application is forgotten: its call ended, or it never began.
    bool follow(Tracked& tracked, const std::vector<ProgramStream>& streams, Clock::time_point now,
                std::vector<Decision>& decisions);

    const std::int64_t ownProcessID_;
    const Timing timing_;
    std::map<std::uint32_t, std::optional<QString>> decided_; // capture id: its application key
    std::map<QString, Tracked> tracked_;
};

} // namespace orvo
