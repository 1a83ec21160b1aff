#include "ui/single_instance.h"

#include <unistd.h>

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

#include "platform/file_io.h"
#include "ui/qt_text.h"

namespace qv::ui {

void BringForward(QWidget& window) {
    // Raising a minimised window leaves it minimised on most window managers.
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

namespace {
constexpr const char* kLockName = "window.lock";
constexpr const char* kSocketName = "window.socket";
constexpr int kTalkMilliseconds = 3000;
constexpr qint64 kMaxMessageBytes = 64 * 1024;
}  // namespace

SingleInstance::SingleInstance(std::string folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() = default;

std::string SingleInstance::socketPath() const { return platform::JoinPath(folder_, kSocketName); }

bool SingleInstance::BecomeFirst(int waitMilliseconds) {
    QElapsedTimer waited;
    waited.start();
    std::string heldBy;
    std::string error;
    for (;;) {
        lock_ = platform::RunLock::TryAcquire(folder_,
                                              "quorvel-gui, process " + std::to_string(::getpid()),
                                              &heldBy, &error, kLockName);
        if (lock_ || !error.empty() || waited.elapsed() >= waitMilliseconds) break;
        QThread::msleep(100);
    }
    // Without a usable runtime folder there is no one to hand over to: this is the window.
    if (!lock_ && !error.empty()) return true;
    if (!lock_) return false;
    // The lock is ours: a socket left by a killed instance can go.
    QLocalServer::removeServer(Path(socketPath()));
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(Path(socketPath()))) return true;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                // One message: the path, ended by a NUL byte (paths are bytes).
                if (peer->bytesAvailable() > kMaxMessageBytes) {
                    peer->abort();
                    return;
                }
                QByteArray data = peer->peek(kMaxMessageBytes);
                const qsizetype end = data.indexOf('\0');
                if (end < 0) return;
                peer->read(end + 1);
                peer->write("ok", 2);
                peer->flush();
                emit openRequested(data.left(end).toStdString());
            });
        }
    });
    return true;
}

bool SingleInstance::HandOver(const std::string& path) const {
    QLocalSocket socket;
    socket.connectToServer(Path(socketPath()));
    if (!socket.waitForConnected(kTalkMilliseconds)) return false;
    QByteArray message(path.data(), static_cast<qsizetype>(path.size()));
    message.append('\0');
    socket.write(message);
    if (!socket.waitForBytesWritten(kTalkMilliseconds)) return false;
    return socket.waitForReadyRead(kTalkMilliseconds) && socket.readAll() == "ok";
}

}  // namespace qv::ui
