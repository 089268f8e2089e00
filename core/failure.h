// Why a stage of a run could not go on, as a value the front-end turns into its message.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "rasterio/rows.h"

namespace core {

struct Failure {
  enum class Kind {
    Missing,        // an input grid that does not exist or cannot be opened (file, format)
    Unreadable,     // a file that cannot be used: `reason`, or the system's `sys_errno`
    SizeMismatch,   // file (rows x cols) differs from reference (ref_rows x ref_cols)
    Changed,        // an input changed between two readings
    NotFinite,      // a valid cell's weighted sum is not a finite number
    CannotCreate,   // an output that cannot be created: `sys_errno` (0: not a regular file)
    CannotWrite,    // an output whose writing failed: `sys_errno` (0: unknown)
    UnknownFormat,  // a format code outside the format table
  };
  Kind kind = Kind::Unreadable;
  std::string file;  // as the run names it
  rasterio::FileError reason = rasterio::FileError::None;
  int sys_errno = 0;
  int format = -1;  // Missing: the format code of the grid
  int rows = 0, cols = 0;
  std::string reference;  // SizeMismatch: the grid every other must match
  int ref_rows = 0, ref_cols = 0;

  static Failure missing(std::string file, int format) {
    Failure f;
    f.kind = Kind::Missing;
    f.file = std::move(file);
    f.format = format;
    return f;
  }
  static Failure unreadable(std::string file, rasterio::FileError why, int err = 0) {
    Failure f;
    f.kind = Kind::Unreadable;
    f.file = std::move(file);
    f.reason = why;
    f.sys_errno = err;
    return f;
  }
  static Failure of(Kind kind, std::string file, int err = 0) {
    Failure f;
    f.kind = kind;
    f.file = std::move(file);
    f.sys_errno = err;
    return f;
  }
};

// A stage's result: its value, or the failure that stopped it.
template <class T>
class Outcome {
 public:
  Outcome(T value) : v_(std::move(value)) {}            // NOLINT: implicit by design
  Outcome(Failure failure) : v_(std::move(failure)) {}  // NOLINT
  bool ok() const { return v_.index() == 0; }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  const Failure& failure() const { return std::get<1>(v_); }

 private:
  std::variant<T, Failure> v_;
};

// The result of a stage that returns nothing: no failure, or the one that stopped it.
using Status = std::optional<Failure>;

}  // namespace core
