// Tfmselfiled: the export field chooser. A small dialog without border icons, not modal and freed when closed,
// opened for one keyword: the fields to export, four quick selections and the file format. OK hands the choice to
// the main window's export and closes; several choosers may be open at once, each for its own keyword.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <string>

#include "store/Export.h"

namespace vexo {

inline constexpr int kSelFiledWidth = 250;
inline constexpr int kSelFiledHeight = 248;

class Tfmselfiled final : public QDialog {
    Q_OBJECT
  public:
    // `runExport` runs the export of the chooser's keyword with the choice (the main window's RunExport).
    using TRunExport = std::function<void(const std::string& keyword, const TExportChoice& choice)>;

    Tfmselfiled(QWidget* mainWindow, std::string keyword, TRunExport runExport);

    const std::string& Keyword() const { return keyword_; }
    // What the boxes say now; the address as its box says (OK unticks it first).
    TExportChoice Choice() const;

    // The events: the two format boxes exclude each other when ticked; the quick selections set all eight boxes.
    void chktxtClick();
    void chkexeclClick();
    void Label4Click();  // "手机"
    void Label3Click();  // "QQ"
    void Label5Click();  // "邮箱"
    void Label6Click();  // "全选"
    // OK: the address is never exported; runs the export, then closes.
    void qClick();
    // Cancel.
    void Button1Click();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLabel* AddLabel(const char* name, const QString& text, int x, int y);
    QCheckBox* AddBox(const char* name, const QString& text, int x, int y, bool bold = false);
    // Ticks exactly the given field boxes and the format.
    void QuickSelect(bool mob, bool qq, bool email, bool all, bool textFormat);

    std::string keyword_;
    TRunExport runExport_;
    QLabel* Label1_;
    QLabel* Label2_;
    QLabel* Label4_;
    QLabel* Label3_;
    QLabel* Label5_;
    QLabel* Label6_;
    QCheckBox* chkcompany_;
    QCheckBox* chkmob_;
    QCheckBox* chktel_;
    QCheckBox* chkemail_;
    QCheckBox* chkurl_;
    QCheckBox* chkaddr_;
    QCheckBox* chktxt_;
    QCheckBox* chkexecl_;
    QPushButton* Button2_;
    QPushButton* Button1_;
};

}  // namespace vexo
