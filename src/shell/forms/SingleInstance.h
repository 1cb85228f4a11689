#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;

// One running instance per user. The first start listens on a local socket
// in the user's private temporary folder; a later start connects to it,
// hands over its document path (at most 1023 bytes) and ends.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxPathBytes = 1023;

    explicit TSingleInstance(const QString& socketPath, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // Starts listening. False when another instance already runs (the
    // socket answers); a socket left behind by a crashed run is replaced.
    bool Listen();

    // In the second instance: asks the running one to come to the front and,
    // when `path` is not empty, to open it. Waits for its answer. Returns
    // false when no instance answered or the path is too long.
    static bool HandOver(const QString& socketPath, const QByteArray& path, QString* error = nullptr);

signals:
    // The running instance was asked to come to the front.
    void activateRequested();
    // ... and to open this document (file-system bytes of the path).
    void documentHandedOver(const QByteArray& path);

private:
    void onNewConnection();

    QString socketPath_;
    QLocalServer* server_ = nullptr;
};
