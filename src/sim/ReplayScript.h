#pragma once
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>

namespace kelvano {

// A transcript as the replaying box needs it: the program's writes (Send) and the box's
// answers (Answer), in order, each with the line of the transcript it came from. The box
// side reads the transcript format on its own (see docs/transcript-format.md): lines
// "<ms> <event> [fields] [| text]", comment lines "# ..." of which "# key: value" ones form
// the header, and the first line "# kelvano-transcript 1".
//
// Events used: tx (a Send), rx (an Answer), timeout (nothing came: an rx after a timeout of
// the same exchange is held back by the time the program waited). Port events (open, close,
// purge, rts, error) do not reach the line and are skipped; USB events mark the transcript
// as a USB one and are kept, in order, as usbItems.
struct ReplayScript {
    struct Item {
        enum class Kind { Send, Answer };
        Kind kind = Kind::Send;
        QByteArray bytes;
        int line = 0;     // 1-based line of the transcript
        int delayMs = 0;  // Answer: held back this long after the bytes before it
    };

    // One request of the USB driver as it returned then (events usb-open ... usb-in).
    struct UsbItem {
        enum class Kind { Open, Close, Pipes, String, Out, In };
        Kind kind = Kind::Open;
        int a = 0;        // Open: the device index; String: the descriptor index; Out, In: pipe
        int b = 0;        // String: the length asked for; In: the capacity
        bool ok = false;  // the request succeeded (In: a reply came)
        QByteArray bytes;
        int line = 0;
    };

    QMap<QString, QString> header;  // "program", "card", "command", "result", ...
    QList<Item> items;
    QList<UsbItem> usbItems;
    bool usb = false;
    int lines = 0;

    // nullopt with `error` ("line N: ...") when the text is not a transcript.
    static std::optional<ReplayScript> parse(const QByteArray& text, QString* error);
    static std::optional<ReplayScript> load(const QString& path, QString* error);
};

}  // namespace kelvano
