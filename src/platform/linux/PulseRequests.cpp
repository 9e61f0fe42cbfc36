#include "platform/linux/PulseRequests.h"

#include <utility>
#include <vector>

#include <pulse/introspect.h>

#include "platform/linux/PulseSession.h"

namespace orvo {
namespace {

template <class Info, class Record>
void collect(pa_context*, const Info* info, int eol, void* records) {
    if (eol == 0 && info != nullptr) {
        static_cast<std::vector<Record>*>(records)->push_back(toRecord(*info));
    }
}

template <class Record> std::optional<Record> first(std::vector<Record>& records) {
    return records.empty() ? std::nullopt : std::optional(std::move(records.front()));
}

} // namespace

std::optional<PulseSinkRecord> PulseRequests::sink(std::uint32_t index) {
    std::vector<PulseSinkRecord> records;
    session_.request([&](pa_context* context) {
        return pa_context_get_sink_info_by_index(context, index,
                                                 collect<pa_sink_info, PulseSinkRecord>, &records);
    });
    return first(records);
}

std::optional<PulseSinkRecord> PulseRequests::sink(const QByteArray& name) {
    std::vector<PulseSinkRecord> records;
    session_.request([&](pa_context* context) {
        return pa_context_get_sink_info_by_name(context, name.constData(),
                                                collect<pa_sink_info, PulseSinkRecord>, &records);
    });
    return first(records);
}

std::optional<PulseModuleRecord> PulseRequests::module(std::uint32_t index) {
    std::vector<PulseModuleRecord> records;
    session_.request([&](pa_context* context) {
        return pa_context_get_module_info(context, index,
                                          collect<pa_module_info, PulseModuleRecord>, &records);
    });
    return first(records);
}

AudioStatus PulseRequests::succeed(
    const std::function<pa_operation*(pa_context*, pa_context_success_cb_t, void*)>& start) {
    int success = -1;
    const auto answer = [](pa_context*, int ok, void* result) { *static_cast<int*>(result) = ok; };
    if (!session_.request([&](pa_context* context) { return start(context, answer, &success); })) {
        return audioStatusTimeout;
    }
    return success > 0 ? noErr : audioStatusUnspecified;
}

std::optional<std::uint32_t> PulseRequests::loadModule(const char* name,
                                                       const QByteArray& arguments) {
    std::uint32_t index = PA_INVALID_INDEX;
    const auto answer = [](pa_context*, std::uint32_t loaded, void* result) {
        *static_cast<std::uint32_t*>(result) = loaded;
    };
    session_.request([&](pa_context* context) {
        return pa_context_load_module(context, name, arguments.constData(), answer, &index);
    });
    return index == PA_INVALID_INDEX ? std::nullopt : std::optional(index);
}

AudioStatus PulseRequests::unloadModule(std::uint32_t index) {
    return succeed([index](pa_context* context, pa_context_success_cb_t answer, void* data) {
        return pa_context_unload_module(context, index, answer, data);
    });
}

AudioStatus PulseRequests::setSinkVolume(std::uint32_t index, const pa_cvolume& volume) {
    return succeed([&](pa_context* context, pa_context_success_cb_t answer, void* data) {
        return pa_context_set_sink_volume_by_index(context, index, &volume, answer, data);
    });
}

std::optional<PulseModuleRecord> PulseRequests::combineModuleOf(const PulseSinkRecord& sink) {
    if (sink.ownerModule == PA_INVALID_INDEX) {
        return std::nullopt;
    }
    auto owner = module(sink.ownerModule);
    if (!owner || owner->name != combineModule) {
        return std::nullopt;
    }
    return owner;
}

} // namespace orvo
