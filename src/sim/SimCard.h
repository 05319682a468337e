#pragma once
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace kelvano {

// One smart card as the box sees it: a controller (PIC16F84, PIC16F876, AT90S or ATmega)
// with its flash, data EEPROM and configuration, and the I2C EEPROM beside it.
//
// The memories are plain public members so that tests can preload and inspect them; the
// member functions are what the box's programming lines do to the silicon.
class SimCard {
public:
    enum class Controller {
        Pic16F84,
        Pic16F876,
        At90S2323,
        At90S2343,
        At90S8515,
        At90S8535,
        AtMega163,
        AtMega161
    };

    // True for the catalogue codes 10..15, 20..26, 30 and 31.
    static bool isKnownType(int cardType);

    // A blank card of the given catalogue type (an unknown code gives a type 10 card):
    // flash, data EEPROM and external EEPROM erased, configuration unprogrammed.
    explicit SimCard(int cardType = 10);

    int type() const { return type_; }
    Controller controller() const { return controller_; }
    bool isPic() const;
    bool isAvr() const { return !isPic(); }
    bool isMega() const;
    // The catalogue's name of the loader image this card type reaches its EEPROM through;
    // empty for the cards whose EEPROM the box reaches directly and for type 30.
    QString loaderName() const;
    // Brelmont PIC cards (10, 13, 14): the box wires straight to the EEPROM.
    bool eepromDirect() const;
    // The AVR signature bytes 0..2 as one number (0x1E9301 ...); 0 for a PIC.
    uint32_t avrSignature() const { return signature; }

    // ---- memories (sizes fixed by the card type, powers of two: leave them as they are) ----
    std::vector<uint16_t> flash;      // program words (PIC: 14 bits)
    std::vector<uint8_t> data;        // controller's internal EEPROM
    std::vector<uint8_t> eeprom;      // the external 24Cxx
    std::array<uint16_t, 4> picId{};  // PIC ID locations 0x2000..0x2003
    uint16_t picConfig = 0x3FFF;      // PIC configuration word 0x2007
    // What the controller answers for its identity, set from the card type and free to be
    // changed (a card carrying another controller): the AVR signature bytes 0..2 as one
    // number, and the PIC device ID at 0x2006 (a PIC16F84 has none and reads 3FFF there).
    uint32_t signature = 0;
    uint16_t picDeviceId = 0x3FFF;
    // AVR lock bits. AT90S: bit 1 = LB1, bit 2 = LB2 (the form of the write instruction
    // AC F9..FF); ATmega: the lock byte (bit 0 = LB1, bit 1 = LB2). A cleared bit is programmed.
    uint8_t lockBits = 0xFF;
    uint8_t fuseLow = 0xFF;   // AT90S2323/2343/8535: bit 0 = FSTRT / RCEN; ATmega: fuse low byte
    uint8_t fuseHigh = 0xFF;  // ATmega fuse high byte

    // ---- both families ----------------------------------------------------------------------
    // PIC bulk erase or AVR chip erase: flash blank, data EEPROM 0xFF; PIC configuration and ID
    // locations 0x3FFF; AVR lock bits unprogrammed (fuses keep their values). The external
    // EEPROM is not touched.
    void erase();

    // ---- PIC programming mode, at the box's address counter (0..0x3FFF) ---------------------
    // Code protection: 16F84 when any CP bit (13..4) is programmed; 16F876 by CP1:CP0 (bits
    // 5..4) from 0x0000, 0x1000 or 0x1F00 upwards, CPD (bit 8) for the data EEPROM.
    // Protected memory reads as 0 and ignores writes.
    bool picCodeProtected(int address) const;
    bool picDataProtected() const;
    uint16_t picReadWord(int address) const;
    // Programs the word and returns what the location reads back afterwards. Programmed CP
    // bits of the configuration word stay programmed until an erase.
    uint16_t picProgramWord(int address, uint16_t word);
    uint8_t picReadData(int address) const;
    uint8_t picProgramData(int address, uint8_t byte);

    // ---- AVR serial programming --------------------------------------------------------------
    // RESET taken low: programming is disabled until Programming Enable, the page buffer empties.
    void avrReset();
    bool avrProgrammingEnabled() const { return avrEnabled_; }
    // Clocks one four-byte instruction through the controller and returns the third and fourth
    // bytes clocked out: the echo of B2, then the data byte of a read (the echo of B3 otherwise).
    std::array<uint8_t, 2> avrInstruction(const std::array<uint8_t, 4>& in);
    // LB1 programmed or LB2 programmed: flash, EEPROM (and AT90S fuse) writes are ignored.
    bool avrWriteLocked() const;
    // Both lock bits programmed: reads give the low address byte instead of the contents (and
    // an AT90S signature reads 00 01 02).
    bool avrReadLocked() const;

private:
    bool lb1Programmed() const;
    bool lb2Programmed() const;
    uint8_t avrRead(uint8_t op, uint8_t b2, uint8_t b3) const;
    void avrWrite(uint8_t op, uint8_t b2, uint8_t b3, uint8_t b4);
    void avrConfigure(uint8_t b2, uint8_t b4);

    int type_;
    Controller controller_;
    bool avrEnabled_ = false;
    std::array<uint16_t, 64> pageBuffer_{};
};

}  // namespace kelvano
