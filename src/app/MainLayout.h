#pragma once
#include <QLabel>
#include <QRect>
#include <QString>

class QFontMetrics;

namespace kelvano {

// A path shortened to `width` pixels for a label: the file name stays whole and the folders
// give way in their middle ("/home/ann/…/cards/main.hex"); only a file name that is wider
// than the room by itself is cut, in its middle too.
QString elideFileName(const QString& path, const QFontMetrics& metrics, int width);

// The name of the file a grid holds, right-aligned and shortened as above; text() and the
// tooltip keep the whole path.
class FileNameLabel : public QLabel {
public:
    explicit FileNameLabel(QWidget* parent = nullptr);
    // What the label shows at its present width.
    QString shownText() const;
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Where a window of `size` goes: `saved` when a good part of it lies on one of `screens`
// (its size kept, at least `size`, at most the screen); else centred on `fallback` at `size`.
QRect placeWindow(const QRect& saved, const QSize& size, const QList<QRect>& screens,
                  const QRect& fallback);

}  // namespace kelvano
