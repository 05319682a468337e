#pragma once
#include <QStringList>
#include <cstdio>

#include "base/Host.h"

namespace kelvano {

// A host with nobody at the screen (benchmarks, tests): every question is answered OK, errors
// are kept in `errors` and, with `echo`, written to standard error as well.
class QuietHost final : public Host {
public:
    explicit QuietHost(bool echo = false) : echo_(echo) {}
    void showError(const QString& text) override {
        errors << text;
        if (echo_) std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    bool askOkAbort(const QString&, const QString&) override { return true; }
    void beep() override {}
    void processEvents() override {}

    QStringList errors;

private:
    bool echo_;
};

}  // namespace kelvano
