#include "app/about_box.h"
#include "window_test_support.h"

// The about box: it opens from the main window's context menu and closes on Escape and OK.
class AboutBoxTest : public WindowTest {
    Q_OBJECT

private slots:
    void opensFromTheContextMenu_data()
    {
        QTest::addColumn<bool>("byEscape");
        row("Escape closes it", true);
        row("OK closes it", false);
    }
    void opensFromTheContextMenu()
    {
        QFETCH(bool, byEscape);
        Fixture f;
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<app::AboutBox*>(QApplication::activeModalWidget())) {
                seen = {box->windowTitle(), box->findChild<QLabel*>("versionLabel")->text(),
                        box->findChild<QLabel*>("noteLabel")->text()};
                for (QLabel* label : box->findChildren<QLabel*>())
                    if (label->fontMetrics().horizontalAdvance(label->text()) > label->width())
                        seen << label->objectName() + " is clipped";
                byEscape ? QTest::keyClick(box, Qt::Key_Escape)
                         : QTest::mouseClick(box->findChild<QPushButton*>("okButton"), Qt::LeftButton);
            }
        });
        QVERIFY(f.window.contextMenuPolicy() == Qt::ActionsContextMenu && f.window.actions().size() == 2);
        QCOMPARE(f.window.actions().front()->text(), QStringLiteral("Inf&o über KestrelIon..."));
        f.window.actions().front()->trigger();
        QCOMPARE(seen, QStringList(
                           {"Info über KestrelIon", "Kestrel Ion Version 2.0", "Final AVI from FM and LM"}));
        QVERIFY(f.window.isVisible() && !QApplication::activeModalWidget());
    }
};

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
