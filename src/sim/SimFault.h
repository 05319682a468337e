#pragma once
#include <QString>
#include <optional>

namespace kelvano {

// A fault the box shows on demand. It targets one family of exchanges (or every exchange) and
// hits from the `at`-th matching exchange after it was added, `times` times in a row.
// An exchange is one prompt line, one command frame or one USB packet. The box still carries
// out the command of a hit exchange; only what goes back on the line is damaged.
struct SimFault {
    enum class Kind {
        NoAnswer,       // nothing is sent back
        ShortReply,     // the length byte promises more than is sent (USB, prompt: cut in half)
        Garbled,        // the payload bytes arrive corrupted (XOR 0x5A)
        LateFirstByte,  // the answer's first byte comes delayMs late
        LostLink,       // the port goes away: every later write, read and purge fails
        PullCard,       // the card is pulled out right after the exchange was answered
        MissKeepAlive,  // "@*" gets no '!' (family "*")
        WrongValue,     // a well-formed answer with another value: the last hex digit of a
                        // reply text, or r1 of a USB reply, has its lowest bit flipped
        Refuse,         // the box refuses the command (single byte 255, USB FF) and does
                        // not carry it out
        Reply,          // the answer is `text` instead (serial: a reply of that text; USB:
                        // the bytes `text` gives in hex); the command is carried out
    };

    Kind kind = Kind::NoAnswer;
    // Empty: every exchange. The start of a command text ("K", "Y", "YAC80", "*", ...),
    // "prompt" for the prompt lines, or the start of a USB packet in upper-case hex digits
    // ("05", "04AC80").
    QString family;
    int at = 1;         // first matching exchange that is hit (1 = the next one)
    int times = 1;      // how many matching exchanges in a row are hit; 0 = all from `at` on
    int delayMs = 0;    // LateFirstByte only
    QString text = {};  // Reply only

    // Whether an exchange is a target: `key` is the command text without "@", the packet in
    // upper-case hex, or "prompt" for a prompt line.
    bool matches(const QString& key) const;

    // Reads one fault in the kelvano-boxsim option syntax (see syntaxHelp). nullopt and
    // `error` set when the text is not a fault.
    static std::optional<SimFault> parse(const QString& text, QString* error = nullptr);
    static QString syntaxHelp();
    QString describe() const;
};

}  // namespace kelvano
