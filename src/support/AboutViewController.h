#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace orvo {

// The content of the about window: the program's name and version, a button that packs the
// technical log for support and one that explains how to write to support and opens an
// e-mail to it. Main thread only.
class AboutViewController : public QWidget {
    Q_OBJECT
public:
    // The support team's address, a fixed value of the deployment.
    static const QString& supportAddress();
    // What follows the program's name in the support e-mail's subject.
    static inline const QString supportSubjectSuffix = QStringLiteral(" for Linux Support");

    explicit AboutViewController(QWidget* parent = nullptr);

    const QString txtSupport;
    const QString txtVersion;
    const QString txtSuccess;
    const QString txtBugReport;
    const QString txtBugReportCreated;
    const QString txtAttention;
    const QString txtSupportBugReport;

    QPointer<QPushButton> btnSupport;
    QPointer<QLabel> lblName;
    QPointer<QLabel> lblVersion;
    QPointer<QPushButton> btnBugReport;

    void viewDidLoad();
    void setupView();

    // Packs every ".txt" entry of the log folder into the archive, shows it in the file
    // manager and says where it is. Does nothing when the log folder cannot be listed.
    void actionBugReport();
    // Explains what to send; once answered, opens an e-mail to support.
    void actionSupport();

    // Where actionBugReport writes: the Temp folder, the localised name, ".zip".
    QString archivePath() const;

private:
    void buildView();
    void composeSupportMail();
};

} // namespace orvo
