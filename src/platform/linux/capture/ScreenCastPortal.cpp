#include "platform/linux/capture/ScreenCastPortal.h"

#include <atomic>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

namespace orvo {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString screenCastInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

constexpr quint32 monitorSource = 1;
constexpr quint32 embeddedCursor = 2;
// The choice is kept until the user takes it back in the desktop's settings.
constexpr quint32 persistUntilRevoked = 2;
// Restore tokens and persist_mode came with this version of the interface.
constexpr quint32 persistingVersion = 4;

enum ResponseCode : quint32 { success = 0, userCancelled = 1 };

// Tokens name a request's object: unique within this process.
QString nextToken() {
    static std::atomic<int> counter{0};
    return QStringLiteral("orvo%1").arg(++counter);
}

QDBusConnection bus() {
    return QDBusConnection::sessionBus();
}

// Where the portal puts the request of that token (its path is built from our bus name).
QString requestPath(const QString& token) {
    QString sender = bus().baseService().mid(1);
    sender.replace('.', '_');
    return QStringLiteral("%1/request/%2/%3").arg(portalPath, sender, token);
}

std::optional<QVariant> property(const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        portalService, portalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << screenCastInterface << name;
    const QDBusReply<QDBusVariant> reply = bus().call(get, QDBus::Block, 5000);
    if (!reply.isValid()) {
        return std::nullopt;
    }
    return reply.value().variant();
}

} // namespace

// The Response signal of one request.
class PortalResponse : public QObject {
    Q_OBJECT
public:
    explicit PortalResponse(const QString& path) : path_(path) {
        bus().connect(portalService, path, requestInterface, QStringLiteral("Response"), this,
                      SLOT(answered(uint, QVariantMap)));
    }
    ~PortalResponse() override {
        bus().disconnect(portalService, path_, requestInterface, QStringLiteral("Response"), this,
                         SLOT(answered(uint, QVariantMap)));
    }

    // Runs the calling thread's events until the answer or the timeout; false on the timeout.
    bool wait(std::chrono::milliseconds timeout) {
        if (code_) {
            return true;
        }
        QTimer::singleShot(timeout, &loop_, &QEventLoop::quit);
        loop_.exec();
        return code_.has_value();
    }
    quint32 code() const { return code_.value_or(~0u); }
    const QVariantMap& results() const { return results_; }

public slots:
    void answered(uint code, const QVariantMap& results) {
        code_ = code;
        results_ = results;
        loop_.quit();
    }

private:
    QString path_;
    QEventLoop loop_;
    std::optional<quint32> code_;
    QVariantMap results_;
};

namespace {

using Refusal = ScreenCastPortal::Refusal;
using Failure = ScreenCastPortal::Failure;

// One request: the answer's results, or why there are none.
std::variant<QVariantMap, Refusal> request(const QString& method, QList<QVariant> arguments,
                                           QVariantMap options, std::chrono::milliseconds timeout) {
    const QString token = nextToken();
    options.insert(QStringLiteral("handle_token"), token);
    // Listening before the call: the answer may come before the call returns.
    PortalResponse response(requestPath(token));
    QDBusMessage call =
        QDBusMessage::createMethodCall(portalService, portalPath, screenCastInterface, method);
    arguments << options;
    call.setArguments(arguments);
    const QDBusReply<QDBusObjectPath> reply = bus().call(call, QDBus::Block, 10000);
    if (!reply.isValid()) {
        return Refusal{Failure::failed, method + ": " + reply.error().message()};
    }
    std::unique_ptr<PortalResponse> elsewhere;
    PortalResponse* answer = &response;
    // Portals older than the request path convention answer on the path they return.
    if (reply.value().path() != requestPath(token)) {
        elsewhere = std::make_unique<PortalResponse>(reply.value().path());
        answer = elsewhere.get();
    }
    if (!answer->wait(timeout)) {
        return Refusal{Failure::failed, method + ": no answer"};
    }
    if (answer->code() == userCancelled) {
        return Refusal{Failure::cancelled, method + ": cancelled"};
    }
    if (answer->code() != success) {
        return Refusal{Failure::failed, method + ": refused"};
    }
    return answer->results();
}

// The first stream of Start's results: a(ua{sv}), each a node and its properties.
bool readStream(const QVariant& streams, ScreenCastPortal::Session& session) {
    const auto argument = streams.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::ArrayType) {
        return false;
    }
    bool found = false;
    argument.beginArray();
    while (!argument.atEnd()) {
        quint32 node = 0;
        QVariantMap properties;
        argument.beginStructure();
        argument >> node >> properties;
        argument.endStructure();
        if (found) {
            continue;
        }
        found = true;
        session.nodeId = node;
        const auto size = properties.value(QStringLiteral("size")).value<QDBusArgument>();
        if (size.currentType() == QDBusArgument::StructureType) {
            int width = 0;
            int height = 0;
            size.beginStructure();
            size >> width >> height;
            size.endStructure();
            session.size = QSize(width, height);
        }
    }
    argument.endArray();
    return found;
}

} // namespace

std::optional<quint32> ScreenCastPortal::version() {
    if (!bus().isConnected()) {
        return std::nullopt;
    }
    const auto value = property(QStringLiteral("version"));
    return value ? std::optional(value->toUInt()) : std::nullopt;
}

std::variant<ScreenCastPortal::Session, ScreenCastPortal::Refusal>
ScreenCastPortal::open(const std::optional<QString>& restoreToken,
                       std::chrono::milliseconds timeout) {
    const std::optional<quint32> portalVersion = version();
    if (!portalVersion) {
        return Refusal{Failure::missing,
                       QStringLiteral("no screen-cast portal on the session bus")};
    }
    const auto created = request(QStringLiteral("CreateSession"), {},
                                 {{QStringLiteral("session_handle_token"), nextToken()}}, timeout);
    if (const auto* refusal = std::get_if<Refusal>(&created)) {
        return *refusal;
    }
    Session session;
    session.handle =
        std::get<QVariantMap>(created).value(QStringLiteral("session_handle")).toString();
    const QVariant handle = QVariant::fromValue(QDBusObjectPath(session.handle));

    QVariantMap selection{{QStringLiteral("types"), monitorSource},
                          {QStringLiteral("multiple"), false}};
    if (property(QStringLiteral("AvailableCursorModes")).value_or(0).toUInt() & embeddedCursor) {
        selection.insert(QStringLiteral("cursor_mode"), embeddedCursor);
    }
    if (*portalVersion >= persistingVersion) {
        selection.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        if (restoreToken) {
            selection.insert(QStringLiteral("restore_token"), *restoreToken);
        }
    }
    const auto fail = [&](Refusal refusal) -> std::variant<Session, Refusal> {
        close(session.handle);
        return refusal;
    };
    const auto selected = request(QStringLiteral("SelectSources"), {handle}, selection, timeout);
    if (const auto* refusal = std::get_if<Refusal>(&selected)) {
        return fail(*refusal);
    }
    const auto started = request(QStringLiteral("Start"), {handle, QString()}, {}, timeout);
    if (const auto* refusal = std::get_if<Refusal>(&started)) {
        return fail(*refusal);
    }
    const QVariantMap& results = std::get<QVariantMap>(started);
    if (!readStream(results.value(QStringLiteral("streams")), session)) {
        return fail({Failure::failed, QStringLiteral("Start: no stream")});
    }
    if (results.contains(QStringLiteral("restore_token"))) {
        session.restoreToken = results.value(QStringLiteral("restore_token")).toString();
    }
    QDBusMessage remote = QDBusMessage::createMethodCall(
        portalService, portalPath, screenCastInterface, QStringLiteral("OpenPipeWireRemote"));
    remote << handle << QVariantMap();
    const QDBusReply<QDBusUnixFileDescriptor> descriptor = bus().call(remote, QDBus::Block, 10000);
    if (!descriptor.isValid() || !descriptor.value().isValid()) {
        return fail({Failure::failed, "OpenPipeWireRemote: " + descriptor.error().message()});
    }
    session.pipeWire = descriptor.value();
    return session;
}

void ScreenCastPortal::close(const QString& sessionHandle) {
    if (sessionHandle.isEmpty()) {
        return;
    }
    bus().call(QDBusMessage::createMethodCall(portalService, sessionHandle, sessionInterface,
                                              QStringLiteral("Close")),
               QDBus::Block, 5000);
}

} // namespace orvo

#include "ScreenCastPortal.moc"
