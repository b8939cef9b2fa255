// Renders the main window with a keyword of 20 companies, and the company-details window, to PNG files under the
// build folder (tests/screenshots), for people to look at; checks that the CJK font is there and the pictures
// are drawn.
#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QPixmap>

#include "ui/GridModel.h"
#include "ui/Pictures.h"
#include "ui/UiSupport.h"
#include "ui/fmzunta.h"
#include "ui/frmComInfo.h"
#include "ui/frmSelFiled.h"
#include "ui/frmUpWin.h"

namespace vexo::test {
namespace {

QString ScreenshotFolder() {
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    QDir().mkpath(folder);
    return folder;
}

// More than one colour in the picture: something was drawn.
bool HasContent(const QImage& image) {
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            if (image.pixel(x, y) != first)
                return true;
    return false;
}

void StoreCompanies() {
    const char* names[] = {"广州市天河区华星电子科技有限公司",
                           "广州鼎盛电子有限公司",
                           "广东粤海微电子股份有限公司",
                           "广州市番禺区恒达电子厂",
                           "广州新世纪电子元器件有限公司广州市天河区分公司",
                           "广州蓝海电子商务有限公司",
                           "广州市白云区晶科电子有限公司",
                           "广州卓越电子设备有限公司",
                           "广州正元电子有限公司",
                           "广州市海珠区华强电子经营部",
                           "广州宏图电子科技有限公司",
                           "广州金田电子有限公司",
                           "广州市越秀区远东电子商行",
                           "广州博远电子技术有限公司",
                           "广州中天电子有限公司",
                           "广州市荔湾区东方电子市场",
                           "广州天宇电子有限公司",
                           "广州华南电子仪器有限公司",
                           "广州恒通电子有限公司",
                           "广州明辉电子科技有限公司"};
    const char* sources[] = {"百度", "搜狗", "360"};
    TKeyListInfo store;
    store.AddKey("广州 电子公司", true);
    store.AddKey("上海 网络公司", true);
    store.AddKey("深圳 机械设备", true);
    for (int i = 0; i < 20; ++i) {
        TComPanyInfo record;
        record.SetComName(names[i]);
        record.AddMobile("1380013" + std::to_string(8000 + i));
        if (i % 3 == 0)
            record.AddMobile("1390013" + std::to_string(9000 + i));
        if (i % 4 == 0)
            record.AddMobile("1370013" + std::to_string(7000 + i));
        if (i % 2 == 0)
            record.AddQQ(std::to_string(800100 + i));
        if (i % 5 != 4)
            record.AddEmail("sales" + std::to_string(i) + "@example.cn");
        record.weburl = "http://www.example" + std::to_string(i) + ".cn/";
        record.source = sources[i % 3];
        record.ispay = i % 4 == 1 ? 1 : 0;
        record.renzheng = i % 3 == 2 ? 1 : 0;
        store.AddCompany("广州 电子公司", record);
    }
}

TEST(Screenshot, MainWindowWithTwentyCompaniesAndTheDetailsWindow) {
    TUiHome home;
    // CJK text must not come out as boxes.
    EXPECT_TRUE(QFontMetrics(UiFont(12)).inFontUcs4(U'公'));
    EXPECT_TRUE(QFontMetrics(UiFont(16, true)).inFontUcs4(U'键'));
    StoreCompanies();

    TShellOptions options;
    options.exePath = "/opt/vexo/vexo";
    options.trayAvailable = [] { return true; };
    options.exitProgram = [](int) {};
    Tfmzunta window(options);
    window.show();
    window.ShowKeyword("广州 电子公司");
    ASSERT_TRUE(WaitFor([&] { return window.GridModel().rowCount() == 20; }));
    QCoreApplication::processEvents();

    const QImage main = window.grab().toImage();
    EXPECT_EQ(main.size() / main.devicePixelRatio(), QSize(1007, 647));
    EXPECT_TRUE(HasContent(main));
    const QString mainPath = ScreenshotFolder() + QStringLiteral("/main-window.png");
    ASSERT_TRUE(main.save(mainPath)) << mainPath.toStdString();

    window.dblistDblClick(0);
    ASSERT_NE(window.ComInfo(), nullptr);
    QCoreApplication::processEvents();
    const QImage details = window.ComInfo()->grab().toImage();
    EXPECT_EQ(details.size() / details.devicePixelRatio(), QSize(447, 466));
    EXPECT_TRUE(HasContent(details));
    const QString detailsPath = ScreenshotFolder() + QStringLiteral("/company-details.png");
    ASSERT_TRUE(details.save(detailsPath)) << detailsPath.toStdString();

    // The export field chooser, opened from the keyword's export command.
    window.ExportKeyword("广州 电子公司");
    ASSERT_EQ(window.FieldChoosers().size(), 1);
    Tfmselfiled* chooser = window.FieldChoosers().constFirst();
    QCoreApplication::processEvents();
    const QImage fields = chooser->grab().toImage();
    EXPECT_EQ(fields.size() / fields.devicePixelRatio(), QSize(kSelFiledWidth, kSelFiledHeight));
    EXPECT_TRUE(HasContent(fields));
    const QString fieldsPath = ScreenshotFolder() + QStringLiteral("/export-fields.png");
    ASSERT_TRUE(fields.save(fieldsPath)) << fieldsPath.toStdString();

    // The update window, part way through a download.
    auto* upwin = new Tfmupwin(&window);
    upwin->SetProgress(40);
    upwin->show();
    QCoreApplication::processEvents();
    const QImage update = upwin->grab().toImage();
    EXPECT_EQ(update.size() / update.devicePixelRatio(), QSize(kUpWinWidth, kUpWinHeight));
    const QString updatePath = ScreenshotFolder() + QStringLiteral("/update-window.png");
    ASSERT_TRUE(update.save(updatePath)) << updatePath.toStdString();

    // Every picture of the resource renders (a missing or broken file gives an empty, transparent pixmap).
    for (const char* name : {"app", "background", "certified", "close", "company", "delete", "export", "keyitem",
                             "promoted", "start", "stop"}) {
        const QImage picture = Picture(QString::fromLatin1(name), QSize(32, 32), 2.0).toImage();
        EXPECT_EQ(picture.size(), QSize(64, 64)) << name;
        EXPECT_TRUE(HasContent(picture)) << name;
    }
}

}  // namespace
}  // namespace vexo::test
