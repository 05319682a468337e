#include "fileio/TextLines.h"

#include <QFile>
#include <cerrno>
#include <cstring>

namespace kelvano {

FilePtr openFile(const QString& path, const char* mode, int& error) {
    errno = 0;
    FilePtr f(std::fopen(QFile::encodeName(path).constData(), mode));
    error = f ? 0 : (errno ? errno : EIO);
    return f;
}

int TextLines::fill() {
    if (cur_ != end_) return 1;
    if (atEnd_) return 0;
    if (!file_) {
        atEnd_ = true;
        return 0;
    }
    errno = 0;
    const size_t n = std::fread(buf_, 1, sizeof buf_, file_);
    if (n == 0) {
        atEnd_ = true;
        if (std::ferror(file_)) {
            error_ = errno ? errno : EIO;
            return -1;
        }
        return 0;
    }
    cur_ = buf_;
    end_ = buf_ + n;
    // Editors that save UTF-8 may put a byte-order mark in front of the first line.
    if (!started_) {
        started_ = true;
        if (n >= 3 && std::memcmp(buf_, "\xEF\xBB\xBF", 3) == 0) cur_ += 3;
        if (cur_ == end_) return fill();
    }
    return 1;
}

bool TextLines::next(QByteArray& line) {
    line.clear();
    overlong_ = false;
    bool any = false;  // something of this line was seen (a line end counts)
    for (;;) {
        const int r = fill();
        if (r < 0) return false;
        if (r == 0) return any;
        if (skipLf_) {
            skipLf_ = false;
            if (*cur_ == '\n') {
                ++cur_;
                continue;
            }
        }
        const char* p = cur_;
        while (p != end_ && *p != '\r' && *p != '\n' && *p != 26) ++p;
        const qsizetype take = p - cur_;
        if (take > 0) {
            any = true;
            const qsizetype room = kMaxLine - line.size();
            if (take > room) overlong_ = true;
            line.append(cur_, take < room ? take : room);
        }
        cur_ = p;
        if (p == end_) continue;
        if (*p == 26) {  // Ctrl-Z: the text ends here, the current line is the last
            atEnd_ = true;
            cur_ = end_ = nullptr;
            return any;
        }
        skipLf_ = *p == '\r';
        ++cur_;
        return true;
    }
}

}  // namespace kelvano
