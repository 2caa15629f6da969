// One QApplication for all view tests, on the offscreen platform unless one
// is named (test discovery runs this without the test environment), and with
// the Fusion style so that drawn colours are the same on every machine.

#include <gtest/gtest.h>
#include <QApplication>
#include <QStyleFactory>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    return RUN_ALL_TESTS();
}
