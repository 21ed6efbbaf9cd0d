// The About box: its labels and their places, the link that opens the
// program's documentation through the desktop, and "Ок".
#include "dialogs/about_dialog.h"

#include <QDesktopServices>
#include <QtTest>
#include <memory>

using namespace chronavel;

// Stands in for the desktop's handler of file addresses.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class AboutDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmAbout> box;
    UrlCatcher catcher;

private slots:
    void init()
    {
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        catcher.opened.clear();
        box = std::make_unique<TfrmAbout>();
    }
    void cleanup()
    {
        box.reset();
        QDesktopServices::unsetUrlHandler("file");
    }

    void layoutAsDesigned()
    {
        QCOMPARE(box->windowTitle(), QString("О программе"));
        QCOMPARE(box->size(), QSize(243, 127));
        QCOMPARE(box->minimumSize(), box->maximumSize());
        QCOMPARE(frmAbout, box.get());
        QCOMPARE(box->Label1->text(),
                 QString("Программа синхронизации времени электронных часов серии \"Ксилон\" "));
        QVERIFY(box->Label1->wordWrap());
        QCOMPARE(box->Label1->geometry(), QRect(0, 0, 243, 33));
        QCOMPARE(box->Label4->text(), QString("Chronavel v 1.0"));
        QCOMPARE(box->Label4->geometry(), QRect(0, 33, 243, 20));
        QCOMPARE(box->Label2->geometry(), QRect(0, 53, 243, 19));
        QVERIFY(!box->Label2->text().isEmpty());
        QCOMPARE(box->Label3->geometry(), QRect(0, 72, 241, 13));
        QVERIFY(box->Label3->font().underline());
        QCOMPARE(box->Label3->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(box->Label3->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(box->Button1->text(), QString("Ок"));
        QCOMPARE(box->Button1->geometry(), QRect(88, 96, 75, 25));
        // A build inside the source tree finds the tree's README.
        QVERIFY(box->Address().isLocalFile());
        QVERIFY(box->Address().toLocalFile().endsWith("README.md"));
        QVERIFY(QFile::exists(box->Address().toLocalFile()));
    }

    void linkOpensTheDocumentationAndTheBoxStaysOpen()
    {
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        QTest::mouseClick(box->Label3, Qt::LeftButton);
        QCOMPARE(catcher.opened, QList<QUrl>{box->Address()});
        QVERIFY(box->isVisible());

        // With nothing to open, a click does nothing.
        box->SetAddress(QUrl());
        QTest::mouseClick(box->Label3, Qt::LeftButton);
        QCOMPARE(catcher.opened.size(), 1);
        QVERIFY(box->isVisible());

        QTest::mouseClick(box->Button1, Qt::LeftButton);
        QVERIFY(!box->isVisible());
        QCOMPARE(box->result(), int(QDialog::Accepted));
    }

    // The box as rendered: the texts inside it, the link blue; saved in
    // CHRONAVEL_SCREENSHOT_DIR when set.
    void rendered()
    {
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        const QImage shot = box->grab().toImage();
        QCOMPARE(shot.size(), QSize(243, 127));
        int blue = 0;
        for (int y = 72; y < 85; ++y)
            for (int x = 0; x < 241; ++x)
                if (shot.pixelColor(x, y).blue() > 150 && shot.pixelColor(x, y).red() < 100)
                    ++blue;
        QVERIFY(blue > 50);
        // Label1's two lines fit its 33 pixels.
        QVERIFY(box->Label1->heightForWidth(243) <= 33);
        const QByteArray dir = qgetenv("CHRONAVEL_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            QVERIFY(shot.save(QString::fromLocal8Bit(dir) + "/about-box.png"));
    }
};

QTEST_MAIN(AboutDialogTest)
#include "about_dialog_test.moc"
