#include "store/DesigneManager.h"

namespace orvo {
namespace {

std::array<QString, DesigneManager::count> numberedNames(const QString& prefix) {
    std::array<QString, DesigneManager::count> names;
    for (int i = 0; i < DesigneManager::count; ++i) {
        names[i] = prefix + QString::number(i + 1);
    }
    return names;
}

} // namespace

const std::array<QString, DesigneManager::count>& DesigneManager::arrayAvatarsCircle() {
    static const auto names = numberedNames("ContactAvatar_");
    return names;
}

const std::array<QString, DesigneManager::count>& DesigneManager::arrayAvatarsSquare() {
    static const auto names = numberedNames("MiniPlayerAvatar_");
    return names;
}

const std::array<SymbolColor, DesigneManager::count>& DesigneManager::arraySymbolsColors() {
    static const std::array<SymbolColor, count> colors{{
        {205, 117, 213},
        {242, 181, 99},
        {123, 157, 249},
        {199, 104, 146},
        {112, 181, 189},
        {163, 189, 112},
        {107, 89, 204},
    }};
    return colors;
}

} // namespace orvo
