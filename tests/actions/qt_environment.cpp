// Timers need a Qt application object; the tests drive them by hand in virtual time.
#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_actions";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QCoreApplication* app_ = nullptr;
};
const ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
}  // namespace
