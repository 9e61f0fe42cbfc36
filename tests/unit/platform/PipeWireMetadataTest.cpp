#include "platform/linux/sound/PipeWireMetadata.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

TEST(PipeWireMetadataTest, ANamedServerReachesOnlyThePipeWireBesideItAndItsJsonNamesTheDevice) {
    EXPECT_EQ(PipeWireMetadata::socketBesidePulse("unix:/tmp/run x/pulse/native"),
              std::optional<QString>("/tmp/run x/pipewire-0"));
    // Elsewhere the user's own PipeWire would answer instead of the named server's.
    EXPECT_EQ(PipeWireMetadata::socketBesidePulse("tcp:localhost:4713"), std::nullopt);
    EXPECT_EQ(PipeWireMetadata::socketBesidePulse("unix:/tmp/native"), std::nullopt);
    EXPECT_EQ(PipeWireMetadata::socketBesidePulse("/tmp/run/pulse/native"), std::nullopt);

    // Its default device is read from the server's JSON.
    EXPECT_EQ(PipeWireMetadata::nameOf(R"({ "name": "alsa_output.usb-1" })"),
              std::optional<QString>("alsa_output.usb-1"));
    EXPECT_EQ(PipeWireMetadata::nameOf(R"({"name":"speakers"})"),
              std::optional<QString>("speakers"));
    EXPECT_EQ(PipeWireMetadata::nameOf(R"({ "name": 5 })"), std::nullopt);
    EXPECT_EQ(PipeWireMetadata::nameOf("speakers"), std::nullopt);
}

} // namespace
} // namespace orvo
