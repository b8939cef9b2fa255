// Tfmupwin: the update window. A small always-on-top window with a progress bar, shown while the program downloads
// its update. It cannot be closed while the download runs; after a failed download it may be closed and no longer
// stays on top.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

namespace vexo {

inline constexpr int kUpWinWidth = 424;
inline constexpr int kUpWinHeight = 83;

class Tfmupwin final : public QWidget {
    Q_OBJECT
  public:
    explicit Tfmupwin(QWidget* mainWindow);

    void SetProgress(int percent);
    // The download failed: the window may be closed now and leaves the top.
    void DownloadFailed();
    bool Failed() const { return failed_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QLabel* Label1_;
    QProgressBar* pro1_;
    bool failed_ = false;
};

}  // namespace vexo
