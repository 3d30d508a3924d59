#include <QApplication>

#include <gtest/gtest.h>

#include <clocale>

#include "window/look.h"

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    sorvin::window::LoadJapaneseTranslation(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
