#pragma once
#include <QString>
#include <array>
#include <memory>

#include "actions/uActions.h"
#include "base/Host.h"
#include "device/Compare.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"

namespace kelvano {

// Compare with the card: the ticked memories of the card in the box are read into scratch
// buffers by a runner of their own (the user's buffers, fuse pages and grids stay as they
// are) and compared with the buffers. It reads what a read would, in the same order, so it
// costs what a read costs. On cards whose external EEPROM is reached through a loader that
// replaces the controller's program, it asks first (as a read does, while warnings are on);
// without consent the other memories are compared and the EEPROM is reported as skipped.
// A memory that could not be read (a protected card, a failed read) is reported with the
// reason instead of differences.
class CardCompare {
public:
    CardCompare(Host& host, Clock& clock, const TDevices& buffers, TCom& com, const Options& options,
                const EnableBoxes& enable, MainView& mainView);
    ~CardCompare();

    // The scratch runner: the front end gives it its window, shows it and runs it like any
    // action; its sequence is `run`.
    TActions& runner() { return *runner_; }
    // Asks the loader question when it applies; call before the runner starts.
    void prepare();
    // The sequence: reads the ticked memories into the scratch buffers.
    void run();
    // The differences, once the runner has closed.
    CompareReport report() const;
    // A read failed or was aborted (what it could not read is in the report).
    bool failed() const;

private:
    enum class State { NotTicked, Pending, Read, Failed, Protected, Declined };
    struct Memory {
        State state = State::NotTicked;
        QString note;
    };
    // Forwards to the front end's host and keeps the last error text for the report.
    class NoteHost : public Host {
    public:
        explicit NoteHost(Host& host) : host_(host) {}
        void showError(const QString& text) override {
            last = text;
            host_.showError(text);
        }
        bool askOkAbort(const QString& c, const QString& t) override { return host_.askOkAbort(c, t); }
        void beep() override { host_.beep(); }
        void processEvents() override { host_.processEvents(); }
        QString last;

    private:
        Host& host_;
    };

    void readPic();
    void readAvr();
    void readEeprom();
    // Reads one memory with `read`; the memory's state follows the abort flag.
    template <typename F>
    void step(Memory& m, F read);
    void failRemaining();

    Host& host_;
    NoteHost noteHost_;
    const TDevices& buffers_;
    TDevices scratch_;
    FuseModel fuses_;
    Options options_;
    EnableBoxes enable_;
    std::unique_ptr<TActions> runner_;
    bool warnings_ = false;
    bool eepromAgreed_ = true;
    // flash, data, eeprom, configuration
    std::array<Memory, 4> memories_;
};

}  // namespace kelvano
