#include "platform/linux/sound/PulseDeviceCache.h"

#include <memory>
#include <optional>

#include <gtest/gtest.h>
#include <pulse/proplist.h>

namespace orvo {
namespace {

struct ProplistDeleter {
    void operator()(pa_proplist* list) const { pa_proplist_free(list); }
};
using Proplist = std::unique_ptr<pa_proplist, ProplistDeleter>;

// What the record of a sink says the user listens through, the sink as the server describes
// it: its active port of that type (none: no port) and its properties.
OutputKind kindOf(std::optional<std::uint32_t> portType, const char* properties = "") {
    pa_sink_port_info port{};
    port.name = "port";
    port.type = portType.value_or(PA_DEVICE_PORT_TYPE_UNKNOWN);
    const Proplist list(pa_proplist_from_string(properties));
    pa_sink_info info{};
    info.name = "sink";
    info.description = "Sink";
    info.proplist = list.get();
    info.active_port = portType ? &port : nullptr;
    return toRecord(info).outputKind;
}

TEST(PulseSinkRecordTest, TheActivePortTellsWhatTheUserListensThrough) {
    EXPECT_EQ(kindOf(PA_DEVICE_PORT_TYPE_HEADPHONES), OutputKind::headphones);
    EXPECT_EQ(kindOf(PA_DEVICE_PORT_TYPE_HEADSET), OutputKind::headset);
    EXPECT_EQ(kindOf(PA_DEVICE_PORT_TYPE_EARPIECE), OutputKind::earpiece);
    EXPECT_EQ(kindOf(PA_DEVICE_PORT_TYPE_SPEAKER), OutputKind::speakers);
    // Headphones in the jack of a speaker: the port says what plays now.
    EXPECT_EQ(kindOf(PA_DEVICE_PORT_TYPE_HEADPHONES, "device.form_factor = \"speaker\""),
              OutputKind::headphones);
    // A USB headset's port is only an analog output; the device says what it is.
    EXPECT_EQ(kindOf(PA_DEVICE_PORT_TYPE_ANALOG, "device.form_factor = \"headset\""),
              OutputKind::headset);
    EXPECT_EQ(kindOf(std::nullopt, "device.form-factor = \"headphone\""), OutputKind::headphones);

    // A null sink, an HDMI output, a type newer than the program: nothing is known.
    EXPECT_EQ(kindOf(std::nullopt), OutputKind::unknown);
    EXPECT_EQ(kindOf(PA_DEVICE_PORT_TYPE_HDMI, "device.form_factor = \"internal\""),
              OutputKind::unknown);
    EXPECT_EQ(kindOf(99), OutputKind::unknown);
}

} // namespace
} // namespace orvo
