// Tfmcominfo: the company-details window. Borderless, 447 x 466, one company's name, site address and contact
// lists in sections laid out by LayoutComInfo; freed when closed.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QPoint>
#include <QPushButton>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

#include "store/UntObject.h"

namespace vexo {

class Tfmcominfo final : public QWidget {
    Q_OBJECT
  public:
    explicit Tfmcominfo(QWidget* mainWindow = nullptr);

    // Fills the window with the record.
    void ShowCompany(const TComPanyInfo& record);

    // The address as a web address to open: only a text that parses strictly as an http or https address with a
    // host; nothing otherwise (a page's address must not start a local program or open a file).
    static std::optional<QUrl> WebAddress(const QString& text);

    // Opens a web address; the desktop's browser unless replaced (tests).
    std::function<void(const QUrl&)> OpenUrl;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void txturlClick();
    QLabel* AddLabel(const char* name, const QString& text, const QRect& geometry);
    QPlainTextEdit* AddMemo(const char* name);

    QLabel* Label1_;
    QPushButton* Button1_;
    QLabel* Image1_;
    QLabel* txtwin_;
    QLabel* txturl_;
    QLabel* Text1_;
    QLabel* txtmob_;
    QPlainTextEdit* mmmob_;
    QLabel* txttel_;
    QPlainTextEdit* mmtel_;
    QLabel* txtemail_;
    QPlainTextEdit* mmemail_;
    QLabel* txtaddr_;
    QLabel* txtaddrc_;
    std::optional<QPoint> dragOffset_;
};

}  // namespace vexo
