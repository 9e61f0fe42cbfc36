#include "preferences/PreferencesRecordViewController.h"

#include <climits>
#include <optional>
#include <vector>

#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "audio/AudioManager.h"
#include "audio/CallDetector.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "shell/Localization.h"
#include "shell/SettingsManager.h"

namespace orvo {
namespace {

constexpr int segmentCount = 3;
const QString qVideoKey = QStringLiteral("QVideo");
const QString qAudioKey = QStringLiteral("QAudio");
const QString deviceKey = QStringLiteral("DefaultAudioDeviceForVideo");
const QString removeEchoKey = QStringLiteral("RemoveEcho");

// The file paths of the folder's entries; absent when it cannot be listed.
std::optional<std::vector<std::optional<QString>>> folderEntries(const QString& folder) {
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable()) {
        return std::nullopt;
    }
    std::vector<std::optional<QString>> paths;
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        paths.emplace_back(dir.filePath(name));
    }
    return paths;
}

} // namespace

PreferencesRecordViewController::PreferencesRecordViewController(QWidget* parent)
    : QWidget(parent), txtQVideo(Localization::text("QVIDEO")),
      txtQAudio(Localization::text("QAUDIO")),
      txtDefaultAudio(Localization::text("DEFAULT_DEVICE_FOR_VIDEO")),
      txtQLow(Localization::text("LOW")), txtQMedium(Localization::text("MIDLE")),
      txtQHard(Localization::text("HARD")), txtSizeRecord(Localization::text("PREF_SIZE")),
      txtMb(Localization::text("MEGABYTE")),
      txtCallDetection(Localization::text("PREF_CALL_DETECTION")) {
    auto* form = new QFormLayout;
    lblQAudio = new QLabel(this);
    auto* audioRow = new QWidget(this);
    segmentQAudio = makeSegments(audioRow);
    form->addRow(lblQAudio, audioRow);
    lblQVideo = new QLabel(this);
    auto* videoRow = new QWidget(this);
    segmentQVideo = makeSegments(videoRow);
    form->addRow(lblQVideo, videoRow);
    lblDefaultAudio = new QLabel(this);
    cbAudioDevices = new QComboBox(this);
    cbAudioDevices->setMinimumWidth(220);
    form->addRow(lblDefaultAudio, cbAudioDevices);
    lblCallDetection = new QLabel(this);
    cbCallDetection = new QComboBox(this);
    cbCallDetection->setObjectName(QStringLiteral("callDetection"));
    form->addRow(lblCallDetection, cbCallDetection);
    btnRemoveEcho = new QCheckBox(Localization::text("PREF_REMOVE_ECHO"), this);
    btnRemoveEcho->setObjectName(QStringLiteral("removeEcho"));
    form->addRow(QString(), btnRemoveEcho);
    // Named now, so that the window, which takes its size once, leaves room for the names.
    for (auto [label, text] : {std::pair{lblQAudio.data(), &txtQAudio},
                               {lblQVideo.data(), &txtQVideo},
                               {lblDefaultAudio.data(), &txtDefaultAudio},
                               {lblCallDetection.data(), &txtCallDetection}}) {
        label->setText(*text);
    }
    lblSizeRecords = new QLabel(this);
    lblSizeRecords->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->addLayout(form);
    layout->addSpacing(12);
    layout->addWidget(lblSizeRecords);
    layout->addStretch();
}

QButtonGroup* PreferencesRecordViewController::makeSegments(QWidget* row) {
    auto* group = new QButtonGroup(row);
    group->setExclusive(true);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < segmentCount; ++i) {
        auto* segment = new QPushButton(row);
        segment->setCheckable(true);
        group->addButton(segment, i);
        layout->addWidget(segment);
    }
    return group;
}

int PreferencesRecordViewController::leadingInteger(const QString& text) {
    int value = 0;
    for (const QChar c : text) {
        if (c < '0' || c > '9' || value > (INT_MAX - 9) / 10) {
            break;
        }
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

void PreferencesRecordViewController::showEvent(QShowEvent* event) {
    if (!viewLoaded_) {
        viewLoaded_ = true;
        viewDidLoad();
    }
    QWidget::showEvent(event);
}

void PreferencesRecordViewController::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (viewLoaded_) {
        viewWillDisappear();
    }
}

void PreferencesRecordViewController::viewDidLoad() {
    for (QButtonGroup* segments : {segmentQAudio.data(), segmentQVideo.data()}) {
        segments->button(0)->setText(txtQLow);
        segments->button(1)->setText(txtQMedium);
        segments->button(2)->setText(txtQHard);
    }
    cbCallDetection->addItem(Localization::text("PREF_CALL_OFF"),
                             settingOf(CallDetectionMode::off));
    cbCallDetection->addItem(Localization::text("PREF_CALL_SUGGEST"),
                             settingOf(CallDetectionMode::suggest));
    cbCallDetection->addItem(Localization::text("PREF_CALL_RECORD"),
                             settingOf(CallDetectionMode::record));
    const auto mode =
        callDetectionModeOf(SettingsManager::shared().getValue(callDetectionSettingKey));
    cbCallDetection->setCurrentIndex(cbCallDetection->findData(settingOf(mode)));
    btnRemoveEcho->setChecked(SettingsManager::shared().getValue(removeEchoKey) != "NO");
    selectSegment(segmentQVideo, qVideoKey);
    selectSegment(segmentQAudio, qAudioKey);
    fillAudioDevices();
    showSizeRecords();
}

void PreferencesRecordViewController::selectSegment(QButtonGroup* segments, const QString& key) {
    // A stored index beyond the segments selects none.
    if (QAbstractButton* segment =
            segments->button(leadingInteger(SettingsManager::shared().getValue(key)))) {
        segment->setChecked(true);
    }
}

void PreferencesRecordViewController::fillAudioDevices() {
    for (const AudioCaptureDevice& device : AudioManager::inputAudioDevices()) {
        consoleLine(device.localizedName);
        // The virtual driver's own device records the calls; it is no microphone.
        if (!AudioManager::isDriverInput(device)) {
            cbAudioDevices->addItem(device.localizedName);
        }
    }
    const int stored =
        cbAudioDevices->findText(SettingsManager::shared().getValue(deviceKey), Qt::MatchExactly);
    // Without a choice, or with one no longer there, a screen recording takes the first
    // microphone: that is the one shown, and it is stored only once the user picks it.
    storedDevice_ = stored >= 0 ? cbAudioDevices->itemText(stored) : QString();
    cbAudioDevices->setCurrentIndex(stored >= 0 ? stored : 0);
    connect(cbAudioDevices, &QComboBox::activated, this, [this] { deviceChosen_ = true; });
}

void PreferencesRecordViewController::showSizeRecords() {
    const auto audio = folderEntries(API::audioRecordsPath());
    const auto video = folderEntries(API::videoRecordsPath());
    if (!audio || !video) {
        lblSizeRecords->hide();
        return;
    }
    const double audioMB = RecordManager::sizePerMB(*audio);
    const double videoMB = RecordManager::sizePerMB(*video);
    lblSizeRecords->setText(Localization::format(txtSizeRecord, {audioMB, txtMb, videoMB, txtMb}));
}

void PreferencesRecordViewController::viewWillDisappear() {
    auto& settings = SettingsManager::shared();
    settings.writeValueSetting(QString::number(segmentQVideo->checkedId()), qVideoKey);
    settings.writeValueSetting(QString::number(segmentQAudio->checkedId()), qAudioKey);
    settings.writeValueSetting(deviceChosen_ ? cbAudioDevices->currentText() : storedDevice_,
                               deviceKey);
    settings.writeValueSetting(cbCallDetection->currentData().toString(), callDetectionSettingKey);
    settings.writeValueSetting(btnRemoveEcho->isChecked() ? "YES" : "NO", removeEchoKey);
}

} // namespace orvo
