#pragma once
#include <QString>
#include <optional>

#include "device/Compare.h"

namespace kelvano {

class Host;

// Compares the buffers of `current` with what loading `name` for `slot` would put into them.
// The file is read by the ordinary readers into scratch buffers that start as copies of the
// current ones, so the user's buffers, grids and labels stay as they are. The memories
// compared are the slot's: PIC slot 1 flash, data EEPROM and configuration, PIC slot 2 and
// AVR slot 3 the external EEPROM, AVR slot 1 flash (and the data EEPROM, which a program file
// may carry), AVR slot 2 the internal EEPROM. Nothing when the file could not be read (the
// reader's error has been shown through `host`).
std::optional<CompareReport> compareWithFile(const TDevices& current, const QString& name, int slot,
                                             Host& host, const QString& crdPath = {});

}  // namespace kelvano
