#include <QCoreApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

// Every test executable runs with a QCoreApplication (queued signals, timers, paths) and with
// QStandardPaths in test mode, so nothing touches the real home folder.
int main(int argc, char** argv)
{
    QCoreApplication::setOrganizationName(QStringLiteral("ox-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("ox-tests"));
    QStandardPaths::setTestModeEnabled(true);
    // Qt's plain UNIX event dispatcher instead of glib's: race detectors can follow it.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
