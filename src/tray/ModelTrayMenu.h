#pragma once

#include <optional>

#include <QAction>
#include <QPointer>
#include <QString>

#include "platform/AudioHardware.h"
#include "store/RecordType.h"

namespace orvo {

// One entry of the tray menu: a header, the volume row, a recording target, the separator or
// a command. Plain data; the menu owns the action, so menuItem is empty once the menu that
// held it has been replaced.
class ModelTrayMenu {
public:
    ModelTrayMenu(std::optional<AudioCaptureDevice> device, QAction* menuItem,
                  std::optional<QString> uuid = std::nullopt,
                  std::optional<QString> itemTag = QString(),
                  std::optional<RecordType> recordType = std::nullopt,
                  std::optional<QString> nameDevice = QString())
        : device(std::move(device)), menuItem(menuItem), uuid(std::move(uuid)),
          itemTag(std::move(itemTag)), recordType(recordType), nameDevice(std::move(nameDevice)) {}

    std::optional<AudioCaptureDevice> device;
    QPointer<QAction> menuItem;
    std::optional<QString> uuid;
    std::optional<QString> itemTag;
    std::optional<RecordType> recordType;
    std::optional<QString> nameDevice;
};

} // namespace orvo
