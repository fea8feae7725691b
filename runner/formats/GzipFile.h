// A gzip-compressed text file written by a run (zlib), row by row.
#pragma once

#include <QString>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Comma-separated rows built in one reusable buffer, without allocating once
// the buffer has grown to its working size.
class TCsvRows {
 public:
  TCsvRows& Number(int64_t value) {
    Separate();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text_.append(digits, end);
    return *this;
  }
  TCsvRows& Text(std::string_view value) {
    Separate();
    text_.append(value);
    return *this;
  }
  TCsvRows& Empty() {
    Separate();
    return *this;
  }
  void EndRow() {
    text_.push_back('\n');
    fresh_ = true;
  }
  std::string_view View() const { return text_; }
  size_t Size() const { return text_.size(); }
  void Clear() { text_.clear(); }

 private:
  void Separate() {
    if (!fresh_) text_.push_back(',');
    fresh_ = false;
  }
  std::string text_;
  bool fresh_ = true;
};

class TGzipFile {
 public:
  // Opens `path` for writing; Error() tells whether that failed.
  explicit TGzipFile(const QString& path);
  ~TGzipFile();
  TGzipFile(const TGzipFile&) = delete;
  TGzipFile& operator=(const TGzipFile&) = delete;

  void Write(std::string_view text);
  // Finishes the stream; the first error of the file's life, or empty.
  QString Close();
  const QString& Error() const { return error_; }

 private:
  QString path_;
  void* file_ = nullptr;  // gzFile
  QString error_;
};
