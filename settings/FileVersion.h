// The file version of a module, read from its version resource.
#pragma once

#include <windows.h>

// Capacity of the destination buffers of GetVersionForType and GetFileVerString, in characters.
const int kVersionTextChars = 100;

// A file to ask for its version: its path, file name and type tag ("exe", "dll", "car", any
// case). Built with a missing argument, or one too long for its buffer, the record stays empty
// and every operation on it fails.
class FileVersion {
 public:
  FileVersion(LPCWSTR path, LPCWSTR file_name, LPCWSTR file_type);
  ~FileVersion();
  FileVersion(const FileVersion&) = delete;
  FileVersion& operator=(const FileVersion&) = delete;

  // The version of a file whose type has one, into `destination`.
  BOOL GetVersionForType(LPWSTR destination);
  // Reads the file's version into the record's version text.
  BOOL QueryVersion();
  // The text of the last failure found.
  LPCWSTR Message() const { return message_; }

 private:
  void SetMessage(LPCWSTR format);
  void Release();

  LPWSTR path_ = NULL;
  LPWSTR file_name_ = NULL;
  LPWSTR file_type_ = NULL;
  LPWSTR message_ = NULL;
  LPWSTR version_text_ = NULL;
};

// The fixed version block of `file` as "major.minor.build.revision".
BOOL GetFileVerString(LPCWSTR file, LPWSTR destination);
