#include "audio/CallPrograms.h"

#include <algorithm>

namespace orvo {
namespace {

// WirePlumber lists the programs whose microphone use means a call, for switching a Bluetooth
// headset to its headset profile (Debian 12, wireplumber 0.4.13:
// /usr/share/wireplumber/policy.lua.d/10-default-policy.lua, bluetooth_policy.policy
// ["media-role.applications"]). Chromium's browsers name their capture "<browser> input"; their
// playback, from the same process, pairs with it by the process.
constexpr char wirePlumber[] = "WirePlumber 0.4.13, bluetooth media-role.applications";

} // namespace

const std::vector<CallProgram>& callPrograms() {
    using Kind = CallProgram::Kind;
    static const std::vector<CallProgram> table = {
        {"Zoom", Kind::calling, {"ZOOM VoiceEngine"}, {}, "zoom.us.app", wirePlumber},
        {"Skype", Kind::calling, {"Skype"}, {}, "Skype.app", wirePlumber},
        {"Linphone",
         Kind::calling,
         {"linphone"},
         {"linphone"},
         std::nullopt,
         "WirePlumber 0.4.13; binary: Debian 12 package linphone-desktop"},
        {"Mumble",
         Kind::calling,
         {"Mumble"},
         {"mumble"},
         std::nullopt,
         "WirePlumber 0.4.13; binary: Debian 12 package mumble"},
        {"Telegram",
         Kind::browserOrChat,
         {"Telegram Desktop", "telegram-desktop"},
         {"telegram-desktop"},
         "Telegram.app",
         "WirePlumber 0.4.13; binary: Debian 12 package telegram-desktop"},
        // The WebRTC engine of native programs (Discord's among them) names itself only.
        {"WebRTC VoiceEngine",
         Kind::browserOrChat,
         {"WEBRTC VoiceEngine"},
         {},
         std::nullopt,
         wirePlumber},
        {"Firefox",
         Kind::browserOrChat,
         {"Firefox", "Firefox Developer Edition"},
         {"firefox-esr"},
         std::nullopt,
         "WirePlumber 0.4.13; binary: Debian 12 package firefox-esr"},
        {"Chromium",
         Kind::browserOrChat,
         {"Chromium input"},
         {"chromium"},
         std::nullopt,
         "WirePlumber 0.4.13; binary: Debian 12 package chromium"},
        {"Google Chrome",
         Kind::browserOrChat,
         {"Google Chrome input"},
         {},
         std::nullopt,
         wirePlumber},
        {"Brave", Kind::browserOrChat, {"Brave input"}, {}, std::nullopt, wirePlumber},
        {"Microsoft Edge",
         Kind::browserOrChat,
         {"Microsoft Edge input"},
         {},
         std::nullopt,
         wirePlumber},
        {"Vivaldi", Kind::browserOrChat, {"Vivaldi input"}, {}, std::nullopt, wirePlumber},
    };
    return table;
}

const CallProgram* callProgramOf(const ProgramStream& stream) {
    const auto& table = callPrograms();
    const auto found = std::find_if(table.begin(), table.end(), [&](const CallProgram& program) {
        return (!stream.applicationName.isEmpty() &&
                program.applicationNames.contains(stream.applicationName)) ||
               (!stream.processBinary.isEmpty() && program.binaries.contains(stream.processBinary));
    });
    return found != table.end() ? &*found : nullptr;
}

bool isCallRole(const ProgramStream& stream) {
    return stream.mediaRole == QLatin1String("phone") ||
           stream.mediaRole == QLatin1String("communication");
}

} // namespace orvo
