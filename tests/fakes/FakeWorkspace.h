#pragma once

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "platform/Workspace.h"

namespace orvo {

// A desktop set up by the test: application folders with their items and icons, and front
// applications that the test brings up. Main thread.
class FakeWorkspace final : public Workspace {
public:
    void activate(const RunningApplication& application) {
        post({{applicationKey, QVariant::fromValue(application)}});
    }
    void post(const QVariantMap& userInfo) {
        center_.post(didActivateApplicationNotification, this, userInfo);
    }
    // nullopt: the folder cannot be listed.
    void setFolder(const QString& folder, std::optional<std::vector<ApplicationItem>> items) {
        folders_ << folder;
        items_[folder] = std::move(items);
    }
    void setIcon(const QString& path, const QByteArray& png) { icons_[path] = png; }
    int iconRequests() const { return iconRequests_; }

    NotificationCenter& notificationCenter() override { return center_; }
    QStringList applicationFolders() override { return folders_; }
    std::optional<std::vector<ApplicationItem>> applicationItems(const QString& folder) override {
        auto it = items_.find(folder);
        return it == items_.end() ? std::nullopt : it->second;
    }
    std::optional<QByteArray> iconForFile(const QString& path) override {
        ++iconRequests_;
        auto it = icons_.find(path);
        return it == icons_.end() ? std::nullopt : std::optional(it->second);
    }
    bool launchApplication(const QString&) override { return false; }
    void revealFile(const QString& path) override { revealed.push_back(path); }
    bool composeMail(const QString& subject, const QString& attachmentPath) override {
        mails.push_back({subject, attachmentPath});
        return true;
    }
    bool composeMailTo(const QStringList& recipients, const QString& subject,
                       const QString& body) override {
        mailsTo.push_back({recipients, subject, body});
        return true;
    }
    bool notifyUser(const QString& title, const QString& body) override {
        notifications.push_back({title, body});
        return true;
    }
    bool notifyUserWithAction(const QString& title, const QString& body, const QString& actionLabel,
                              std::function<void()> chosen) override {
        notifications.push_back({title, body});
        actions.push_back({actionLabel, std::move(chosen)});
        return true;
    }
    std::vector<RunningApplication> runningApplications() override { return {}; }

    std::vector<QString> revealed;
    // The action of each notification that offered one: its label and what choosing it does.
    std::vector<std::pair<QString, std::function<void()>>> actions;
    std::vector<std::pair<QString, QString>> mails;
    std::vector<std::pair<QString, QString>> notifications;
    struct MailTo {
        QStringList recipients;
        QString subject;
        QString body;
    };
    std::vector<MailTo> mailsTo;

private:
    NotificationCenter center_;
    QStringList folders_;
    std::map<QString, std::optional<std::vector<ApplicationItem>>> items_;
    std::map<QString, QByteArray> icons_;
    int iconRequests_ = 0;
};

} // namespace orvo
