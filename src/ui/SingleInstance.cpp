#include "ui/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include "engine/Notify.h"

namespace vexo {

namespace {

constexpr int kConnectWaitMs = 2000;
constexpr int kConnectAttemptMs = 200;
constexpr int kRetryPauseMs = 50;

// The request line: message, wParam and lParam of the show-instance message.
QByteArray ShowRequest() {
    return QByteArray::number(kMsgShowInstance) + " 1 1\n";
}
const QByteArray kHandled = "1\n";

QString RuntimeFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& dataDir, QObject* parent) : QObject(parent) {
    serverPath_ = QDir(RuntimeFolder()).filePath(ServerName(dataDir));
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &TSingleInstance::OnConnection);
}

TSingleInstance::~TSingleInstance() {
    server_.close();
    if (lock_)
        lock_->unlock();
}

QString TSingleInstance::ServerName(const QString& dataDir) {
    QString canonical = QFileInfo(dataDir).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QFileInfo(dataDir).absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("vexoclient-") + QString::fromLatin1(hash.left(16));
}

bool TSingleInstance::Acquire() {
    lock_ = std::make_unique<QLockFile>(serverPath_ + QStringLiteral(".lock"));
    lock_->setStaleLockTime(0);  // stale only when its process is gone
    if (lock_->tryLock(0)) {
        // Whatever socket file is left belongs to a program that ended without removing it.
        QLocalServer::removeServer(serverPath_);
        if (server_.listen(serverPath_))
            return true;
        // Without a socket this instance still runs; later starts cannot reach it and start on their own.
        return true;
    }
    lock_.reset();
    handedOver_ = AskRunningInstance();
    return false;
}

bool TSingleInstance::AskRunningInstance() const {
    const QDeadlineTimer deadline(kConnectWaitMs);
    QLocalSocket socket;
    while (!deadline.hasExpired()) {
        socket.connectToServer(serverPath_);
        if (socket.waitForConnected(kConnectAttemptMs))
            break;
        socket.abort();
        QThread::msleep(kRetryPauseMs);  // the first instance may still be setting up its socket
    }
    if (socket.state() != QLocalSocket::ConnectedState)
        return false;
    socket.write(ShowRequest());
    if (!socket.waitForBytesWritten(kConnectWaitMs))
        return false;
    // The first instance answers once its window has been brought up.
    const QDeadlineTimer answerDeadline(kConnectWaitMs);
    while (!socket.canReadLine() && !answerDeadline.hasExpired() &&
           socket.waitForReadyRead(static_cast<int>(answerDeadline.remainingTime()))) {
    }
    return socket.readLine() == kHandled;
}

void TSingleInstance::OnConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 256)
                    socket->abort();  // not one of ours
                return;
            }
            if (socket->readLine() == ShowRequest() && OnShowRequest)
                OnShowRequest();
            socket->write(kHandled);
            socket->disconnectFromServer();
        });
    }
}

}  // namespace vexo
