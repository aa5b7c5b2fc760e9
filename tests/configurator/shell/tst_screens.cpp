// Pictures of the main window for review: the sheet with a menu open, the
// password dialogs and the About box, written to $TERMSET_SCREENSHOT_DIR by
// make screenshots. Not part of the test suite.

#include "SheetFixture.h"

#include "shell/AboutBox.h"
#include "shell/CRK40CnfPS.h"
#include "shell/PasswordDialogs.h"
#include "shell/TransferDialogs.h"

#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QRadioButton>
#include <QTabWidget>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

class TestScreens : public QObject {
    Q_OBJECT

    std::unique_ptr<SheetFixture> f;

    void save(const QImage& image, const QString& name)
    {
        QVERIFY(!image.isNull());
        const QString dir = qEnvironmentVariable("TERMSET_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            QDir().mkpath(dir);
            QVERIFY(image.save(QDir(dir).filePath(name)));
        }
    }

    // The window with its open popups painted where they are on the screen.
    QImage compose(QWidget* window, const QList<QWidget*>& popups)
    {
        QRect area = window->frameGeometry();
        for (QWidget* p : popups)
            area |= p->geometry();
        QImage out(area.size(), QImage::Format_ARGB32);
        out.fill(Qt::darkGray);
        QPainter painter(&out);
        painter.drawPixmap(window->geometry().topLeft() - area.topLeft(), window->grab());
        for (QWidget* p : popups)
            painter.drawPixmap(p->geometry().topLeft() - area.topLeft(), p->grab());
        return out;
    }

private slots:
    void init()
    {
        f = std::make_unique<SheetFixture>();
        QVERIFY2(f->registered, qPrintable(f->registerError));
    }
    void cleanup() { f.reset(); }

    void sheetWithMenus()
    {
        CRK40CnfPS sheet;
        sheet.OnInitDialog();
        sheet.move(40, 40);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        save(sheet.grab().toImage(), "sheet.png");

        QMenuBar* bar = sheet.menuBar();
        for (int i = 0; i < 2; ++i) {
            QAction* top = bar->actions()[i];
            bar->setActiveAction(top);
            QMenu* menu = top->menu();
            QTRY_VERIFY(menu->isVisible());
            QList<QWidget*> popups{menu};
            if (i == 1) {
                // Configuration with its Serial popup open.
                QAction* serial = menu->actions()[0];
                menu->setActiveAction(serial);
                serial->menu()->popup(menu->mapToGlobal(menu->actionGeometry(serial).topRight()));
                QTRY_VERIFY(serial->menu()->isVisible());
                popups << serial->menu();
            }
            save(compose(&sheet, popups), i == 0 ? "sheet-file-menu.png" : "sheet-configuration-menu.png");
            for (QWidget* p : popups)
                p->hide();
        }
        for (int t = 1; t < sheet.tabs()->count(); ++t) {
            sheet.tabs()->setCurrentIndex(t);
            save(sheet.grab().toImage(), QStringLiteral("sheet-tab%1.png").arg(t + 1));
        }
        sheet.hide();
    }

    void dialogs()
    {
        CPasswordDlg password;
        password.setPassword("secret");
        save(password.grab().toImage(), "password.png");
        save(CNewPasswordDlg().grab().toImage(), "new-password.png");
        save(CAboutBox().grab().toImage(), "about.png");
    }

    void transferDialogs()
    {
        // COM2 and COM5 are pseudo-terminals; the other names point nowhere,
        // so no real device is touched.
        std::vector<int> masters;
        for (int n = 1; n <= 10; ++n) {
            QByteArray path = f->env.path("none").toLocal8Bit();
            if (n == 2 || n == 5) {
                const int fd = posix_openpt(O_RDWR | O_NOCTTY);
                QVERIFY(fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0);
                masters.push_back(fd);
                path = ptsname(fd);
            }
            qputenv(qPrintable(QString("RK40_COM%1").arg(n)), path);
        }
        save(CPortDlg().grab().toImage(), "port.png");
        for (int fd : masters)
            ::close(fd);
        for (int n = 1; n <= 10; ++n)
            qunsetenv(qPrintable(QString("RK40_COM%1").arg(n)));

        QWidget owner;
        owner.show();
        CProgressDlg progress(105, &owner);
        progress.SetStatus("Writing configuration to the RK-40");
        progress.SetRange(0, 30);
        progress.SetPos(11);
        save(progress.grab().toImage(), "progress.png");
        progress.Close();
    }
};

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
