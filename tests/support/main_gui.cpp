// main() of the GUI test programs: a QApplication (offscreen platform) exists
// for the whole run.
#include <QApplication>
#include <gmock/gmock.h>

#include "support/tempsettings.h"
#include "tsan_suppressions.h"

int main(int argc, char** argv)
{
    zorv::test::UsePrivateRuntimeDir();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
