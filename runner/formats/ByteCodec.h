// Little-endian numbers one after another in a byte array: how the
// checkpoint file and its payload are written and read.
#pragma once

#include <QByteArray>
#include <QtEndian>
#include <algorithm>
#include <cstdint>
#include <cstring>

// Writes little-endian numbers one after another into a byte array that it
// grows as needed; Finish() cuts the array to what was written.
class TByteWriter {
 public:
  TByteWriter(QByteArray& bytes, qsizetype expected) : bytes_(bytes) {
    bytes_.resize(expected);
    data_ = bytes_.data();
  }
  template <class T>
  void Put(T value) {
    const T little = qToLittleEndian(value);
    PutBytes(reinterpret_cast<const char*>(&little), sizeof(T));
  }
  void PutDouble(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    Put(bits);
  }
  void PutBytes(const char* data, qsizetype size) {
    if (used_ + size > bytes_.size()) {
      bytes_.resize(std::max(2 * bytes_.size(), used_ + size));
      data_ = bytes_.data();
    }
    std::memcpy(data_ + used_, data, static_cast<size_t>(size));
    used_ += size;
  }
  qsizetype Used() const { return used_; }
  // Overwrites earlier bytes, at `at`.
  template <class T>
  void PutAt(qsizetype at, T value) {
    const T little = qToLittleEndian(value);
    std::memcpy(data_ + at, &little, sizeof(T));
  }
  void Finish() { bytes_.resize(used_); }

 private:
  QByteArray& bytes_;
  char* data_ = nullptr;
  qsizetype used_ = 0;
};

// Reads little-endian numbers; every read fails once the bytes run out.
class TByteReader {
 public:
  TByteReader(const char* data, qsizetype size) : data_(data), left_(size) {}
  template <class T>
  bool Get(T& value) {
    if (left_ < static_cast<qsizetype>(sizeof(T))) return false;
    value = qFromLittleEndian<T>(data_);
    Skip(sizeof(T));
    return true;
  }
  bool GetDouble(double& value) {
    uint64_t bits = 0;
    if (!Get(bits)) return false;
    std::memcpy(&value, &bits, sizeof bits);
    return true;
  }
  bool GetBytes(char* out, qsizetype size) {
    if (size < 0 || left_ < size) return false;
    std::memcpy(out, data_, static_cast<size_t>(size));
    Skip(size);
    return true;
  }
  qsizetype Left() const { return left_; }

 private:
  void Skip(qsizetype n) {
    data_ += n;
    left_ -= n;
  }
  const char* data_;
  qsizetype left_;
};
