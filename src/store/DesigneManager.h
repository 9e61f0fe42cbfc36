#pragma once

#include <array>

#include <QString>

namespace orvo {

// A colour on the 0 to 255 scale, fully opaque; the views turn it into their colour type.
struct SymbolColor {
    int red = 0;
    int green = 0;
    int blue = 0;
    double alpha = 1.0;
};

// The fixed looks of a record, indexed by its designeID (0 to 6): entry i of every list
// belongs together.
class DesigneManager {
public:
    DesigneManager() = delete;

    static constexpr int count = 7;

    // Image names "ContactAvatar_1" to "ContactAvatar_7".
    static const std::array<QString, count>& arrayAvatarsCircle();
    // Image names "MiniPlayerAvatar_1" to "MiniPlayerAvatar_7".
    static const std::array<QString, count>& arrayAvatarsSquare();
    static const std::array<SymbolColor, count>& arraySymbolsColors();
};

} // namespace orvo
