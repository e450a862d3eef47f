// The filter's error: ERegExp with its code and message, and the table of texts by code.
#pragma once

#include <cstddef>
#include <string>

#include "text/error.h"

namespace veskor {

class ERegExp : public Error {
 public:
  ERegExp(int code, const std::string& message) : Error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

namespace regexp {

// Compile errors, by their codes.
enum ErrorCode : int {
  kTooManyGroups = 102,
  kUnmatchedOpenGroup = 103,
  kUnmatchedCloseGroup = 104,
  kOperandCouldBeEmpty = 106,
  kNestedQuantifier = 107,
  kBadHexDigit = 108,
  kInvalidSetRange = 109,
  kSetTrailingBackslash = 110,
  kNoHexCode = 111,
  kHexCodeTooBig = 112,
  kUnmatchedSet = 113,
  kQuantifierFollowsNothing = 115,
  kTrailingBackslash = 116,
  kBraceArgumentTooBig = 122,
  kBraceMinAboveMax = 124,
  kUnclosedComment = 125,
  kUnrecognizedModifier = 127,
  kLoopStackExceeded = 1014,
};

// The text of a code, e.g. "RegExp(comp): ParseReg Too Many ()".
const char* ErrorText(int code);

// A compile error: the text followed by " (pos N)".
ERegExp CompileError(int code, size_t position);

// An error while searching: the text alone.
ERegExp ExecError(int code);

}  // namespace regexp
}  // namespace veskor
