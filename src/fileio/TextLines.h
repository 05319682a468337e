#pragma once
#include <QByteArray>
#include <QString>
#include <cstdio>
#include <memory>

namespace kelvano {

// A file opened with stdio and closed when the holder goes away. Errors are errno values.
struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` with the stdio `mode`; on failure returns null with `error` set to errno.
FilePtr openFile(const QString& path, const char* mode, int& error);

// Reads a text file line by line. A line ends at CR, at LF or at CR LF, so files from any
// system read the same; the character 26 (Ctrl-Z) ends the text like the end of the file.
// A UTF-8 byte-order mark at the start of the text is skipped.
// Lines longer than kMaxLine are cut there and flagged, so a file without line ends cannot
// make one line eat all memory.
class TextLines {
public:
    static constexpr int kMaxLine = 1 << 16;

    // Reads from an open file, which stays open.
    explicit TextLines(std::FILE* file) : file_(file) {}

    // The next line, without its end, into `line`. Returns false at the end of the text or
    // on a read error (then error() is the errno value).
    bool next(QByteArray& line);
    int error() const { return error_; }
    // The last line returned was longer than kMaxLine and has been cut.
    bool overlong() const { return overlong_; }

private:
    int fill();  // 1 bytes available, 0 end, -1 error

    std::FILE* file_ = nullptr;
    char buf_[16384];
    const char* cur_ = nullptr;
    const char* end_ = nullptr;
    bool atEnd_ = false;
    bool started_ = false;
    bool skipLf_ = false;
    bool overlong_ = false;
    int error_ = 0;
};

}  // namespace kelvano
