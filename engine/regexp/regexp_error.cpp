// The error texts of the filter.
#include "engine/regexp/regexp_error.h"

namespace veskor::regexp {

const char* ErrorText(int code) {
  switch (code) {
    case kTooManyGroups:
      return "RegExp(comp): ParseReg Too Many ()";
    case kUnmatchedOpenGroup:
    case kUnmatchedCloseGroup:
      return "RegExp(comp): ParseReg Unmatched ()";
    case kOperandCouldBeEmpty:
      return "RegExp(comp): *+ Operand Could Be Empty";
    case kNestedQuantifier:
      return "RegExp(comp): Nested *?+";
    case kBadHexDigit:
      return "RegExp(comp): Bad Hex Digit";
    case kInvalidSetRange:
      return "RegExp(comp): Invalid [] Range";
    case kSetTrailingBackslash:
      return "RegExp(comp): Parse Atom Trailing \\";
    case kNoHexCode:
      return "RegExp(comp): No Hex Code After \\x";
    case kHexCodeTooBig:
      return "RegExp(comp): Hex Code After \\x Is Too Big";
    case kUnmatchedSet:
      return "RegExp(comp): Unmatched []";
    case kQuantifierFollowsNothing:
      return "RegExp(comp): ?+*{ Follows Nothing";
    case kTrailingBackslash:
      return "RegExp(comp): Trailing \\";
    case kBraceArgumentTooBig:
      return "RegExp(comp): BRACES Argument Too Big";
    case kBraceMinAboveMax:
      return "RegExp(comp): BRACE Min Param Greater then Max";
    case kUnclosedComment:
      return "RegExp(comp): Unclosed (?#Comment)";
    case kUnrecognizedModifier:
      return "RegExp(comp): Urecognized Modifier";
    case kLoopStackExceeded:
      return "RegExp(exec): Loop Stack Exceeded";
    default:
      return "RegExp: Unknown Error";
  }
}

ERegExp CompileError(int code, size_t position) {
  return ERegExp(code, std::string(ErrorText(code)) + " (pos " + std::to_string(position) + ")");
}

ERegExp ExecError(int code) { return ERegExp(code, ErrorText(code)); }

}  // namespace veskor::regexp
