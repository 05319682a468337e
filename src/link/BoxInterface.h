#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

namespace kelvano {

class PortError;
class TCom;

// The modes of the box. Every action starts the mode it needs; Idle is where an action leaves
// the box.
enum class BoxMode : uint8_t {
    Idle = 0,
    PicErase = 1,      // the PIC bulk erase (picBulkErase) is accepted
    Pic = 2,           // PIC programming, the address counter at 0
    DirectEeprom = 3,  // the box talks to the card's EEPROM itself
    Loader = 4,        // the box relays to a loader running in the card's controller
    Avr = 5,           // AVR serial programming
};

// What a link may or may not carry. Asked before an action starts, so that an action the link
// cannot finish is refused before anything on the card is changed.
enum class BoxFeature {
    AvrInstructions,  // the AVR instructions of the AT90S cards (both links)
    AvrFlashPages,    // ATmega page loads and page writes (4C)
    AvrFuseBytes,     // ATmega fuse reads (50, 58 08) and lock and fuse writes (AC E0/A0/A8)
    PicCommands,      // the PIC modes and commands
    DirectEeprom,     // the box's own access to the card's EEPROM
    LoaderEeprom,     // the EEPROM through a loader in the controller
    Display,          // the box's display (the lamp blinks with it while waiting for a card)
};

// The answer to one exchange.
struct BoxReply {
    bool supported = true;  // false: the link has no form for the operation; nothing was sent
    bool answered = false;  // something came back in time (serial: not a time-out; USB: the
                            // reply read succeeded)
    bool good = false;      // the reply passed the test of its operation (see each below)
    int value = 0;          // the value the reply carries; only meaningful when good
    QString text;           // the reply as a text, for messages ("Sync error: " + text)
};

// Whether the card state `state` says that a card is in the box: any state but those with
// bits 1 and 2 both set (6, 7, 14, ...; -1, no answer, has them too). The action runner and
// the production workers both wait on this one rule.
constexpr bool cardPresent(int state) { return (state & 6) != 6; }

// One card-state poll.
struct CardPoll {
    bool answered = false;  // false: the box did not answer (counted towards "does not answer")
    int state = -1;         // the card state; -1 when there is none
    bool cardPresent() const { return kelvano::cardPresent(state); }
};

// One four-byte AVR serial-programming instruction B1 B2 B3 B4.
struct AvrInstruction {
    uint8_t b1 = 0, b2 = 0, b3 = 0, b4 = 0;
};

// What the action runner and its sequences ask of a programmer box: one implementation per
// link (BoxSerial: the command lines of the serial models; BoxUsb: the packets of the USB
// model), the link's current one chosen by makeBox, and fakes in the tests.
//
// Every operation is one exchange (or a fixed short series) and returns when its answer is in
// or its wait has run out; the waits and the wire forms belong to the implementation. An
// operation the link has no form for sends nothing and returns supported = false; callers
// ask supports() before they start, so that this is never the first they hear of it.
// A failure of the port itself throws PortError (serial), except in closeAction.
// All calls come from the thread that owns the link.
class BoxInterface {
public:
    virtual ~BoxInterface() = default;

    // --- The link ---------------------------------------------------------------------------
    virtual bool supports(BoxFeature feature) const = 0;
    // The card state ("K"; packet 05, whose reply must be exactly one byte).
    virtual CardPoll pollCard() = 0;
    // A text on the box's display: the address field ("D" + four characters) or the label
    // field ("d" + four characters, which the QXBASE model does not have: nothing is sent to
    // it). `quick`: sent without waiting long for the acknowledgement (the card wait and the
    // closing texts). Nothing where the link has no display. False when the box did not
    // answer (a box that falls silent in a loop that sends nothing else is noticed here).
    enum class Field { Address, Label };
    virtual bool display(Field field, const QByteArray& four, bool quick = false) = 0;
    // Switches the box's mode. Loader: good when the loader answered that it runs.
    // Other modes: good when answered; their replies carry nothing.
    virtual BoxReply setMode(BoxMode mode) = 0;
    // The exchanges that leave the box idle after an action (also after an abort or an
    // error): idle mode and blank display texts. Port errors are swallowed; nothing is sent
    // when the link is down.
    virtual void closeAction() = 0;

    // --- AVR -------------------------------------------------------------------------------
    // One instruction. good: the reply has the instruction's echo form (serial: four hex
    // digits; USB: the first reply byte equals B2); value: the data byte (the low byte of
    // the serial reply, the second USB reply byte); text: the reply as the serial line
    // shows it (over USB the two reply bytes as four hex digits).
    virtual BoxReply avrInstruction(AvrInstruction in) = 0;
    // A flash or EEPROM write instruction, followed by what the link needs to let the write
    // complete (serial: a 4 ms pause; USB: the packet 06 03). good: serial: a reply of four
    // characters; USB: the echo of B2.
    virtual BoxReply avrWrite(AvrInstruction in) = 0;

    // --- PIC (the box's address counter) --------------------------------------------------------
    // Programs the program memory word (or configuration location), or the data memory byte
    // (the low 8 bits of `word`), at the counter and reads it back. good: four hex digits;
    // value: what was read back.
    virtual BoxReply picLoad(bool dataMemory, uint16_t word) = 0;
    // Reads the location at the counter. good: four hex digits.
    virtual BoxReply picRead(bool dataMemory) = 0;
    // The counter moves to the next location / to the first ID location. False when the box
    // did not answer.
    virtual bool picIncrement() = 0;
    virtual bool picToConfiguration() = 0;
    // The bulk erase (in the PicErase mode). good: answered and not refused.
    virtual BoxReply picBulkErase() = 0;
    // The device ID word at 2006 (in the Pic mode): the counter moves to the configuration
    // area and on to that location, which is read. good: four hex digits. A PIC16F84 has no
    // device ID there and answers 3FFF or 0000.
    virtual BoxReply picDeviceId() = 0;

    // --- The card's EEPROM ----------------------------------------------------------------------
    // Direct access (DirectEeprom mode). `wide`: the EEPROM is larger than 2 KB (two-byte word
    // addresses). Read: good with two hex digits. Write: good when the box answered with an
    // empty reply; no read-back is made.
    virtual BoxReply eepromRead(int address, bool wide) = 0;
    virtual BoxReply eepromWrite(int address, uint8_t byte, bool wide) = 0;
    // Through the loader (Loader mode). good: two hex digits; value: the byte (read back).
    virtual BoxReply loaderRead(int address) = 0;
    virtual BoxReply loaderWrite(int address, uint8_t byte) = 0;
    // A loader image from the program's image store; false when the store has none.
    virtual bool loaderImage(const QString& name, QByteArray& image) const = 0;
    // Empty when that image may go onto the card in this box; otherwise the message why not
    // (a demo loader, made for the simulated box, on a real one; an image store that is
    // damaged, which is also the reason when loaderImage finds nothing). Asked before the
    // card is touched.
    virtual QString loaderRefusal(const QString& name, const QByteArray& image) const = 0;

    // --- When something went wrong under the action ---------------------------------------------
    // A port error that reached the top of the action: takes the link down, then shows it.
    virtual void reportLinkError(const PortError& error) = 0;
    // Takes the link down without the closing exchanges (its state is not known).
    virtual void disconnect() = 0;
};

// The box behind the link: each call goes to the serial or the USB implementation, as the
// link is connected at that moment.
std::unique_ptr<BoxInterface> makeBox(TCom& com);

}  // namespace kelvano
