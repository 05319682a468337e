// Timers and the event loop need a QCoreApplication; one lives for the whole test run.
#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

class QtAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc_, argv_);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "test_link";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication* app_ = nullptr;
};

[[maybe_unused]] auto* const env = ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

}  // namespace
