// A gzip-compressed text file written by a run (zlib), row by row.
#pragma once

#include <QString>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "AtomicFile.h"
#include "Result.h"

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

// Opened by Open, which fails at once when the file cannot be made; Write
// and Close return the first failure of the file's life, so that one which
// Write met is still reported by Close. The file is a TAtomicFile: it
// appears under its name only when Close has finished it whole.
class TGzipFile {
 public:
  static TResult<TGzipFile> Open(const QString& path);
  // A table: opened, its header line written.
  static TResult<TGzipFile> OpenTable(const QString& path, std::string_view header);
  ~TGzipFile();
  TGzipFile(TGzipFile&& other) noexcept;
  TGzipFile& operator=(TGzipFile&&) = delete;
  TGzipFile(const TGzipFile&) = delete;
  TGzipFile& operator=(const TGzipFile&) = delete;

  TStatus Write(std::string_view text);
  // Finishes the stream.
  TStatus Close();

 private:
  TGzipFile(TAtomicFile target, void* file) : target_(std::move(target)), file_(file) {}
  // Remembers the first failure and returns it; zlib's `code` Z_ERRNO
  // names the system's error.
  TStatus Fail(int code = 0);

  std::optional<TAtomicFile> target_;
  void* file_ = nullptr;  // gzFile, on a copy of the target's descriptor
  TStatus status_ = Success();
};
