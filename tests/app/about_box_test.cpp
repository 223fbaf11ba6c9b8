#include "app/about_box.h"
#include "window_test_support.h"

// The about box: it opens from the main window's context-menu action, shows its captions whole and
// closes on OK.
class AboutBoxTest : public WindowTest {
    Q_OBJECT

private slots:
    void opensFromTheContextMenu()
    {
        Fixture f;
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<app::AboutBox*>(QApplication::activeModalWidget())) {
                for (QLabel* label : box->findChildren<QLabel*>())
                    if (label->fontMetrics().horizontalAdvance(label->text()) > label->width())
                        seen << label->objectName() + " is clipped";
                seen << box->windowTitle();
                QTest::mouseClick(box->findChild<QPushButton*>("okButton"), Qt::LeftButton);
            }
        });
        f.window.actions().front()->trigger();
        QCOMPARE(seen, QStringList({"Info über KestrelIon"}));
        QVERIFY(f.window.isVisible() && !QApplication::activeModalWidget());
    }
};

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
