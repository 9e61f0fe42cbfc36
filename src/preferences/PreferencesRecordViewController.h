#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace orvo {

// The records tab: audio and video quality, the microphone of screen recordings, what a
// detected call does, whether the other side's echo leaves the user's words, and the space the
// recordings take. Loads its view the first time it is shown and stores its five values every
// time it disappears. Main thread only.
class PreferencesRecordViewController : public QWidget {
    Q_OBJECT
public:
    explicit PreferencesRecordViewController(QWidget* parent = nullptr);

    const QString txtQVideo;
    const QString txtQAudio;
    const QString txtDefaultAudio;
    const QString txtQLow;
    const QString txtQMedium;
    const QString txtQHard;
    const QString txtSizeRecord;
    const QString txtMb;
    const QString txtCallDetection;

    QPointer<QLabel> lblDefaultAudio;
    QPointer<QLabel> lblQAudio;
    QPointer<QLabel> lblQVideo;
    // Three exclusive segments each; the button id is the segment index.
    QPointer<QButtonGroup> segmentQAudio;
    QPointer<QButtonGroup> segmentQVideo;
    QPointer<QComboBox> cbAudioDevices;
    QPointer<QLabel> lblCallDetection;
    // Off, suggest, record, in that order; stored as the call detection setting.
    QPointer<QComboBox> cbCallDetection;
    // Stored as "RemoveEcho": "YES" or "NO"; on unless "NO".
    QPointer<QCheckBox> btnRemoveEcho;
    QPointer<QLabel> lblSizeRecords;

    bool isViewLoaded() const { return viewLoaded_; }
    void viewDidLoad();
    void viewWillDisappear();

    // The integer of the leading decimal digits of text; 0 when there are none.
    static int leadingInteger(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QButtonGroup* makeSegments(QWidget* row);
    void selectSegment(QButtonGroup* segments, const QString& key);
    void fillAudioDevices();
    void showSizeRecords();

    QString storedDevice_;      // the stored choice when it is in the list, else empty
    bool deviceChosen_ = false; // picked in the list since the view loaded
    bool viewLoaded_ = false;
};

} // namespace orvo
