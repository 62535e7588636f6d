// main() of the core test programs: a QCoreApplication exists for the whole
// run, so that posted events, timers and QSettings behave as in zorv.
#include <QCoreApplication>
#include <gmock/gmock.h>

#include "support/tempsettings.h"
#include "tsan_suppressions.h"

int main(int argc, char** argv)
{
    zorv::test::UsePrivateRuntimeDir();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
