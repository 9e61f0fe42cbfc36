#include "platform/linux/sound/PulseRequests.h"

#include <vector>

#include <QtGlobal>
#include <pulse/error.h>

namespace orvo {
namespace {

template <class Info, class Record>
void collect(pa_context*, const Info* info, int eol, void* records) {
    if (eol == 0 && info != nullptr) {
        static_cast<std::vector<Record>*>(records)->push_back(toRecord(*info));
    }
}

// Sends one introspection request: send(context, callback, data) starts it.
template <class Info, class Record, class Send>
PulseLookup<Record> lookup(PulseSession& session, Send send) {
    std::vector<Record> records;
    const bool answered = session.request(
        [&](pa_context* context) { return send(context, collect<Info, Record>, &records); });
    if (!answered || records.empty()) {
        return {answered, std::nullopt};
    }
    return {true, std::move(records.front())};
}

} // namespace

PulseLookup<PulseSinkRecord> PulseRequests::sink(std::uint32_t index) {
    return lookup<pa_sink_info, PulseSinkRecord>(
        session_, [index](auto* context, auto cb, auto* data) {
            return pa_context_get_sink_info_by_index(context, index, cb, data);
        });
}

PulseLookup<PulseSinkRecord> PulseRequests::sink(const QByteArray& name) {
    return lookup<pa_sink_info, PulseSinkRecord>(
        session_, [&name](auto* context, auto cb, auto* data) {
            return pa_context_get_sink_info_by_name(context, name.constData(), cb, data);
        });
}

PulseLookup<PulseModuleRecord> PulseRequests::module(std::uint32_t index) {
    return lookup<pa_module_info, PulseModuleRecord>(
        session_, [index](auto* context, auto cb, auto* data) {
            return pa_context_get_module_info(context, index, cb, data);
        });
}

PulseLookup<PulseModuleRecord> PulseRequests::combineModuleOf(const PulseSinkRecord& sink) {
    if (sink.ownerModule == PA_INVALID_INDEX) {
        return {true, std::nullopt};
    }
    auto owner = module(sink.ownerModule);
    if (owner.record && owner.record->name != combineModule) {
        owner.record.reset();
    }
    return owner;
}

AudioStatus PulseRequests::succeed(
    const std::function<pa_operation*(pa_context*, pa_context_success_cb_t, void*)>& start) {
    int success = -1;
    const auto answer = [](pa_context*, int ok, void* result) { *static_cast<int*>(result) = ok; };
    if (!session_.request([&](pa_context* context) { return start(context, answer, &success); })) {
        return noAnswerStatus();
    }
    return success > 0 ? noErr : audioStatusUnspecified;
}

std::pair<AudioStatus, std::uint32_t> PulseRequests::loadModule(const char* name,
                                                                const QByteArray& arguments) {
    struct Loaded {
        std::uint32_t index = PA_INVALID_INDEX;
        int error = PA_OK;
    } loaded;
    const auto answer = [](pa_context* context, std::uint32_t index, void* result) {
        auto* outcome = static_cast<Loaded*>(result);
        outcome->index = index;
        outcome->error = index == PA_INVALID_INDEX ? pa_context_errno(context) : PA_OK;
    };
    if (!session_.request([&](pa_context* context) {
            return pa_context_load_module(context, name, arguments.constData(), answer, &loaded);
        })) {
        return {noAnswerStatus(), PA_INVALID_INDEX};
    }
    if (loaded.index == PA_INVALID_INDEX) {
        qWarning("The server refused to load %s: %s", name, pa_strerror(loaded.error));
        return {audioStatusUnspecified, PA_INVALID_INDEX};
    }
    return {noErr, loaded.index};
}

AudioStatus PulseRequests::unloadModule(std::uint32_t index) {
    return succeed([index](pa_context* context, pa_context_success_cb_t answer, void* data) {
        return pa_context_unload_module(context, index, answer, data);
    });
}

AudioStatus PulseRequests::noAnswerStatus() const {
    return session_.timedOut() ? audioStatusTimeout : audioStatusNotRunning;
}

} // namespace orvo
