#pragma once
#include <QString>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace kelvano {

class TDevices;
class EnableBoxes;
class FuseModel;
struct Options;
struct SlotFiles;

// Key-by-key access to the settings file "kelvano.ini".
//
// The file keeps the layout of the Windows private-profile files so that the same file works
// on both systems: "[Section]" lines, "Key=Value" lines, section and key names matched
// without regard to case, unknown keys and sections left as they are, CR LF line ends.
// Every read opens the file and closes it again; nothing is cached between calls, and a
// missing file, section or key yields the caller's default.
//
// A write changes the value of its key in the first section of that name, or adds the key
// after the section's last key; every other line (comments, lines without '=', keys and
// sections the program does not know, a second section of the same name) keeps its text and
// its place. Writes replace the whole file atomically (a new file is written beside it and
// renamed over it), so a failed or interrupted save leaves the old settings intact. A file
// whose write permission bits are all cleared counts as read-only and is never replaced.
// Between beginUpdate() and commit() the writes collect in memory and reach the disk in one
// save.
class SettingsStore {
public:
    explicit SettingsStore(const QString& fileName = QString());
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString fileName() const { return fileName_; }
    void setFileName(const QString& fileName);
    QString section() const { return section_; }
    void setSection(const QString& section) { section_ = section; }

    // Text: at most 2047 characters; one pair of matching quotes around the value is removed.
    QString readString(const QString& key, const QString& defaultValue) const;
    // Integer: decimal with an optional sign, or hexadecimal after "0x" / "0X"; the default
    // when the key is missing or its value is not such a number.
    int readInt(const QString& key, int defaultValue) const;
    // Flag: an integer, any value other than 0 is true.
    bool readBool(const QString& key, bool defaultValue) const;

    // Each returns false when the file could not be written (see errorString()); within an
    // update they only fail once an earlier write has failed.
    bool writeString(const QString& key, const QString& value);
    bool writeInt(const QString& key, int value);
    bool writeBool(const QString& key, bool value);

    // Reads the file once and holds it: the following reads and writes work on that copy
    // until commit() or discard(). One section is thus read from one version of the file,
    // and written in one save.
    void beginUpdate();
    // Writes the collected changes in one atomic save. False with errorString() set when the
    // system refused it; the file on disk is then unchanged.
    bool commit();
    // Drops the held copy and any writes made to it.
    void discard();
    bool inUpdate() const { return pending_ != nullptr; }

    // The reason of the last failed write, naming the file; empty after a successful one.
    QString errorString() const { return error_; }

    class Document;

private:
    std::unique_ptr<Document> load() const;
    bool save(const Document& doc);

    QString fileName_;
    QString section_;
    QString error_;
    std::unique_ptr<Document> pending_;
};

// The state that the two settings sections move in and out of.
struct SettingsContext {
    Options& options;
    TDevices& devices;  // DeviceId ("Device") and the section of the selected card type
    EnableBoxes& enable;
    FuseModel& fuses;
    SlotFiles& slotFiles;
    QString fileVersion;  // written as "Version"
    QString deviceName;   // written as "DeviceName" (the status bar's card type text)
    // A port named for this run only (on the command line): while it is the selected port,
    // a save leaves "Port" as the file holds it.
    QString runPort = {};
};

// The "Config" section: read or write every key in its fixed order. A write returns false
// when the file could not be saved; store.errorString() then names the file and the reason.
bool IniConfig(SettingsStore& store, SettingsContext& ctx, bool write);
// The section "DEV_nn" of the selected card type (ctx.devices.DeviceId); runs the external
// EEPROM coupling rule afterwards in both directions.
bool IniDevice(SettingsStore& store, SettingsContext& ctx, bool write);

// Where the main window was when the program last closed: its normal (not maximised)
// geometry and whether it was maximised, in the section "Window". A width or height of 0
// means none was saved. A write returns false when the file could not be saved.
struct WindowPlacement {
    int left = 0, top = 0, width = 0, height = 0;
    bool maximized = false;
};
bool IniWindow(SettingsStore& store, WindowPlacement& placement, bool write);

// Section name of a card type: "DEV_" and the code in at least two digits ("DEV_05").
QString deviceSection(int deviceId);

// Further USB vendor/product ids of the box, from the key "UsbIds" of "Config": a list such
// as "0547:2131, 04B4:8613" of hexadecimal pairs. Malformed entries are skipped.
std::vector<std::pair<uint16_t, uint16_t>> parseUsbIds(const QString& text);
std::vector<std::pair<uint16_t, uint16_t>> readUsbIds(SettingsStore& store);

}  // namespace kelvano
