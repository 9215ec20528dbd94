// The archive engine's error codes and their message texts.
#pragma once

#include <span>
#include <string>
#include <system_error>

namespace parcelix {

struct ErrorEntry {
  int code;
  const char* message;
};

// Codes raised on the ZIP and JAR paths, named for the call sites.
enum ErrorCode : int {
  kErrBadLocalOffset = 25115,    // "Bad offset to local header"
  kErrBadBlock = 25116,          // "Bad block"
  kErrWriteFile = 25136,         // "Error writing to file"
  kErrCloseFile = 25138,         // "Error closing file"
  kErrCreateDir = 25150,         // "Error creating dir"
  kErrCrcCheck = 25151,          // "File fails CRC check"
  kErrInvalidDir = 25158,        // "Invalid directory"
  kErrDiskFull = 25160,          // "Disk full"
  kErrNotAccessible = 25170,     // "is not accessible"
  kErrWriteProtected = 25171,    // "disk is write protected"
  kErrFileNotFound = 25192,      // "File not found"
  kErrOpenFile = 25235,          // "Error opening file"
  kErrReadFile = 25236,          // "Error reading file or unexpected end of file"
  kErrBadArcType = 25244,        // "Invalid or unsupported archive type for this operation"
  kErrInvalidName = 25245,       // "Invalid file name"
  kErrStreamNil = 25255,         // "Uninitialized TMemoryStream object"
  kErrMaxFileSize = 25256,       // "Max file size exceeded"
  kErrNothingToDo = 25268,       // "Nothing to do"
  kErrEventNotAssigned = 25270,  // "Required event not assigned"
  kErrPropNotAssigned = 25271,   // "Required property not assigned"
  kErrStackOverflow = 25305,     // "Stack overflow"
  kErrUnsupportedMethod = 25326, // "Unsupported compression method"
  kErrUserCanceled = 25443,      // "User canceled"
  kErrInvalidPassword = 26517,   // "Invalid password"
  kErrNothingToDo2 = 26859,      // "Nothing to do" (new archive with refresh or delete)
  kMsgCreateDirQuestion = 26899, // "Directory does not exist... Create?"
};

// The whole table (117 entries), sorted by code.
std::span<const ErrorEntry> ErrorTable();

// The message text of a code; "" for a code that is not in the table.
const char* ErrorMessage(int code);

// The table as an error category: an engine error travels as a
// std::error_code whose message() is the table text, so that callers test
// codes, never message texts.
const std::error_category& EngineCategory();
inline std::error_code make_error_code(ErrorCode c) { return {int(c), EngineCategory()}; }
inline std::error_code EngineError(int code) { return {code, EngineCategory()}; }

}  // namespace parcelix

template <>
struct std::is_error_code_enum<parcelix::ErrorCode> : std::true_type {};
