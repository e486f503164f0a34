// main() of the window tests: a QApplication around the test run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include "gui_support.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    rombolt::test::gui::UseSettingsFolder(rombolt::test::gui::ProcessSettingsFolder());
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    QDir(rombolt::test::gui::ProcessSettingsFolder()).removeRecursively();
    return result;
}
