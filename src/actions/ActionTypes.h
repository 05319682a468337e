#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <initializer_list>

// The vocabulary shared by the action runner and the front ends that start it: which action,
// which memories, and what came of it.
namespace kelvano {

// The five actions and Identify. The numbers are the action codes the window's actions carry
// as their tag and that the caption table is indexed by; None is the progress window of the
// firmware upload.
enum class ActionCode : uint8_t {
    None = 0,
    Read = 1,
    Erase = 2,
    BlankCheck = 3,
    Verify = 4,
    Program = 5,
    Identify = 6,  // reads the controller's identity; nothing on the card changes
};

// The action code of a number (0..6); None for anything else.
constexpr ActionCode actionCodeOf(int code) {
    return code >= 1 && code <= 6 ? static_cast<ActionCode>(code) : ActionCode::None;
}
constexpr int toInt(ActionCode code) { return static_cast<int>(code); }

// The card's memories. 1 to 3 are the selectors the family memory operations take; the
// external EEPROM has no selector there and is numbered after them.
enum class Memory : uint8_t {
    Program = 1,         // controller flash
    Data = 2,            // controller internal EEPROM
    Configuration = 3,   // PIC ID locations and configuration word; AVR lock and fuse bits
    ExternalEeprom = 4,  // the I2C EEPROM beside the controller
};
constexpr int toInt(Memory memory) { return static_cast<int>(memory); }

// A set of memories (the Enable boxes, or what an action got done).
class MemorySet {
public:
    constexpr MemorySet() = default;
    constexpr MemorySet(std::initializer_list<Memory> memories) {
        for (Memory m : memories) add(m);
    }
    static constexpr MemorySet all() {
        return {Memory::Program, Memory::Data, Memory::Configuration, Memory::ExternalEeprom};
    }
    constexpr bool has(Memory m) const { return (bits_ >> toInt(m)) & 1u; }
    constexpr void add(Memory m) { bits_ |= static_cast<uint8_t>(1u << toInt(m)); }
    constexpr void remove(Memory m) { bits_ &= static_cast<uint8_t>(~(1u << toInt(m))); }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr bool contains(MemorySet other) const { return (bits_ & other.bits_) == other.bits_; }
    constexpr bool operator==(const MemorySet&) const = default;

private:
    uint8_t bits_ = 0;
};

// "program memory", "data memory", "configuration", "external EEPROM".
QString memoryName(Memory memory);

// What one action did, filled while it runs and complete once the window closed. A memory is
// listed under read, verified, blank-checked or written only when its whole loop went through
// without an error or an abort.
struct ActionResult {
    ActionCode action = ActionCode::None;
    bool ready = false;    // ended with "READY": no error and no abort
    bool aborted = false;  // the abort flag was set (Abort, a warning answered Abort, an error)
    MemorySet read;
    MemorySet verified;
    MemorySet blankChecked;
    MemorySet written;
    // Asked for (ticked) but left out without an error: the memories of a protected card,
    // a step that has no form on the link. Each has a notice saying so.
    MemorySet skipped;
    // The memory being worked on when an error was shown (its loop stopped there).
    MemorySet failed;
    QStringList errors;   // the error texts shown, in order
    QStringList notices;  // what was left out and why ("... not verified"), in order
    // The action stopped with the error that says the controller is protected (the last of
    // `errors`), rather than leaving its memories out.
    bool stoppedByProtection = false;
    // ... and the user asked to erase the card and program it instead.
    bool eraseAndProgram = false;

    // Ended READY, but with something asked for left out.
    bool partial() const { return ready && !skipped.empty(); }
};

}  // namespace kelvano
