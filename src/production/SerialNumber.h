#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace kelvano {

class TDevices;

// Where and how a job writes each card's serial number, and which values it hands out.
//
// The value sequence is either start, start + step, ... up to `last` (or up to the largest
// value the form can hold), or the lines of a list file in their order. A serial is known by
// its index in that sequence; the log hands out indexes.
struct SerialPlan {
    enum class Memory { Flash, Data, Eeprom };
    enum class Form { BinaryLE, BinaryBE, Bcd, AsciiDec, AsciiHex };

    Memory memory = Memory::Eeprom;
    // Flash: a byte address in the program image on AVR cards (word w at bytes 2w, 2w + 1);
    // a word address on PIC cards, where each serial byte becomes one RETLW word 0x34nn.
    // Data and external EEPROM: a byte address.
    int address = 0;
    int size = 4;  // bytes, 1..8; for the ASCII forms also the number of characters
    Form form = Form::BinaryLE;
    uint64_t start = 1;
    uint64_t step = 1;
    std::optional<uint64_t> last;
    QList<uint64_t> list;  // non-empty: the values come from a list file
    QString listFile;
    QString pool;  // the log's pool the values come from; empty: the log's default pool

    // The largest value the form fits into `size` bytes.
    uint64_t maxValue() const;
    bool fits(uint64_t value) const { return value <= maxValue(); }
    // The bytes written for `value` (size() of them); empty when it does not fit.
    QByteArray encode(uint64_t value) const;
    // The value with index `index` in the sequence; nullopt past the end.
    std::optional<uint64_t> valueAt(uint64_t index) const;
    // The index of `value` in the sequence; nullopt when the sequence does not hold it.
    std::optional<uint64_t> indexOf(uint64_t value) const;
    // Names the sequence (its start and step, or its list): plans with the same key hand out
    // the same values in the same order.
    QString key() const;
    // How the log and the screen show a value: decimal, or upper-case hex (width digits) for
    // the hex form.
    QString text(uint64_t value) const;

    // Bytes the memory offers on card type `card` at `address` (0 when the card has no such
    // memory); the check for "lies outside the memory".
    int memoryBytes(int card) const;
    // Writes `bytes` into the buffers of `devices` (which must be sized for the card).
    void writeInto(TDevices& devices, const QByteArray& bytes) const;

    static QString memoryName(Memory m);
    static QString formName(Form f);
    static std::optional<Memory> parseMemory(const QString& text);
    static std::optional<Form> parseForm(const QString& text);
    // A number as a job or a list file writes it: decimal, or hex with "0x"; plain hex digits
    // too when `hexDigits` is set (the hex form's list files).
    static std::optional<uint64_t> parseNumber(const QString& text, bool hexDigits = false);
};

}  // namespace kelvano
