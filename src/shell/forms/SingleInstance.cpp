#include "shell/forms/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

namespace {

// A hand-over is the tag "PV1 ", the path bytes and a terminating zero; the
// running instance answers "1" once it has taken it.
const QByteArray kTag = "PV1 ";
constexpr int kTimeoutMs = 5000;

}  // namespace

TSingleInstance::TSingleInstance(const QString& socketPath, QObject* parent)
    : QObject(parent), socketPath_(socketPath) {}

TSingleInstance::~TSingleInstance() {
    if (server_) server_->close();
}

bool TSingleInstance::Listen() {
    server_ = new QLocalServer(this);
    // No socket options: with them Qt replaces a socket that is in use. The
    // socket lies in the user's private folder, which keeps others out.
    if (!server_->listen(socketPath_)) {
        // Either another instance runs, or a crashed one left its socket.
        QLocalSocket probe;
        probe.connectToServer(socketPath_);
        if (probe.waitForConnected(1000)) return false;
        QLocalServer::removeServer(socketPath_);
        if (!server_->listen(socketPath_)) return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &TSingleInstance::onNewConnection);
    return true;
}

void TSingleInstance::onNewConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            // Anything beyond one short message is not a hand-over.
            if (buffer->size() > kTag.size() + kMaxPathBytes + 1 ||
                (buffer->size() >= kTag.size() && !buffer->startsWith(kTag))) {
                socket->abort();
                return;
            }
            int zero = buffer->indexOf('\0', kTag.size());
            if (zero < 0) return;
            QByteArray path = buffer->mid(kTag.size(), zero - kTag.size());
            socket->write("1");
            socket->flush();
            socket->disconnectFromServer();
            emit activateRequested();
            if (!path.isEmpty()) emit documentHandedOver(path);
        });
    }
}

bool TSingleInstance::HandOver(const QString& socketPath, const QByteArray& path, QString* error) {
    QByteArray sent = path;
    bool tooLong = sent.size() > kMaxPathBytes;
    if (tooLong) sent.clear();  // still bring the running instance to the front
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(kTimeoutMs)) {
        if (error) *error = QStringLiteral("The running instance does not answer.");
        return false;
    }
    socket.write(kTag + sent + QByteArray(1, '\0'));
    socket.flush();
    bool answered = false;
    while (!answered) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(kTimeoutMs)) break;
        answered = socket.readAll().contains('1');
    }
    socket.disconnectFromServer();
    if (tooLong) {
        if (error) *error = QStringLiteral("The document path is too long to hand over (at most 1023 bytes).");
        return false;
    }
    if (!answered && error) *error = QStringLiteral("The running instance does not answer.");
    return answered;
}
