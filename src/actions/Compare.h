#pragma once
#include <QString>
#include <memory>

#include "actions/ActionTypes.h"
#include "actions/uActions.h"
#include "base/Host.h"
#include "device/Compare.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"

namespace kelvano {

// Compare with the card: a read of the ticked memories by a runner of its own, into scratch
// buffers (the user's buffers, fuse pages and grids stay as they are), then the differences
// from the buffers. It is a read, so it costs what a read costs.
//
// On cards whose external EEPROM is reached through a loader that replaces the controller's
// program, the runner asks first (while warnings are on, as a read does), as the last of its
// checks before the read: after the controller has been found to be the card type's. Without
// consent the other memories are read and the EEPROM is reported as not compared. A memory that
// could not be read (a protected controller, a failed read) is reported with the reason instead of
// differences.
//
// Using it: prepare(); then start the runner on a read, either with runner().start(...) for a
// front end that drives it (memories() gives the set) or, for the action window, with
// runner().setAction(ActionCode::Read) before showing the window (the scratch Enable boxes
// are already set). Once the window has closed, report() and failed() tell the outcome.
class CardCompare {
public:
    CardCompare(Host& host, Clock& clock, const TDevices& buffers, TCom& com,
                const Options& options, const EnableBoxes& enable, MainView& mainView);
    ~CardCompare();

    TActions& runner() { return *runner_; }
    // Sets the memories to read and hands the loader question to the runner's checks.
    void prepare();
    MemorySet memories() const { return memories_; }
    // The differences, once the runner is done.
    CompareReport report() const;
    // A read failed or was aborted (what it could not read is in the report); a protected
    // controller that stopped the read is no failure of the read.
    bool failed() const;

private:
    bool picProtected() const;
    // The loader question: declined, the EEPROM is left out of the read.
    void askLoader();

    Host& host_;
    const TDevices& buffers_;
    TDevices scratch_;
    FuseModel fuses_;
    Options options_;
    EnableBoxes enable_;
    bool warnings_ = false;
    bool eepromDeclined_ = false;
    MemorySet memories_;
    std::unique_ptr<TActions> runner_;
};

}  // namespace kelvano
