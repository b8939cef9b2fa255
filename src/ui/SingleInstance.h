// One running program per user and data folder. The first instance listens on a local socket named after the
// data folder; a later start of the same folder connects, asks the first to show its window (the show-instance
// message 34783, 1, 1), waits until it was handled, and ends. A lock file beside the socket tells a live
// instance from a stale socket left by a crash.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace vexo {

class TSingleInstance final : public QObject {
    Q_OBJECT
  public:
    // `dataDir` is the program's data folder (AppDir); its canonical form names the instance.
    explicit TSingleInstance(const QString& dataDir, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // True when this process is now the instance of its folder (listening). False when another instance runs:
    // it has been asked to show its window (waiting about 2 s for it to answer), and this process should end.
    bool Acquire();
    // After Acquire returned false: whether the running instance answered that it handled the request.
    bool HandedOver() const { return handedOver_; }

    // Socket name of a data folder: "vexoclient-" and a short hash of the canonical path.
    static QString ServerName(const QString& dataDir);

    // Runs on the UI thread when another start asks this instance to show its window.
    std::function<void()> OnShowRequest;

  private:
    bool AskRunningInstance() const;
    void OnConnection();

    QString serverPath_;
    bool handedOver_ = false;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

}  // namespace vexo
