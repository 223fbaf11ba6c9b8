#include "window_test_support.h"

#include "media.h"

void WindowTest::initTestCase()
{
    const std::string folder =
        test_support::freshTempDir("settings-" + QCoreApplication::applicationName().toStdString());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(folder));
}

void WindowTest::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window outlived its test");
}
