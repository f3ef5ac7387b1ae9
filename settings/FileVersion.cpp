#include "settings/FileVersion.h"

#include <new>

#include "gesture/DebugZones.h"

namespace {

const size_t kPathChars = MAX_PATH;
const size_t kTypeChars = 100;
const size_t kMessageChars = 260;

LPWSTR NewText(size_t chars) {
  LPWSTR text = new (std::nothrow) WCHAR[chars];
  if (text != NULL) {
    for (size_t i = 0; i < chars; ++i) text[i] = 0;
  }
  return text;
}

// A copy of `source` in a buffer of its own, or NULL when it does not fit.
LPWSTR CopyOf(LPCWSTR source, size_t chars) {
  if (wcslen(source) >= chars) return NULL;
  LPWSTR copy = NewText(chars);
  if (copy != NULL) wcscpy(copy, source);
  return copy;
}

// Formats into a buffer of `chars` characters, cut short rather than overrun.
void FormatInto(LPWSTR destination, size_t chars, LPCWSTR format, LPCWSTR argument) {
  _snwprintf(destination, chars - 1, format, argument);
  destination[chars - 1] = 0;
}

}  // namespace

FileVersion::FileVersion(LPCWSTR path, LPCWSTR file_name, LPCWSTR file_type) {
  if (path == NULL || file_name == NULL || file_type == NULL) return;
  path_ = CopyOf(path, kPathChars);
  file_name_ = CopyOf(file_name, kPathChars);
  file_type_ = CopyOf(file_type, kTypeChars);
  message_ = NewText(kMessageChars);
  version_text_ = NewText(kVersionTextChars);
  if (path_ == NULL || file_name_ == NULL || file_type_ == NULL || message_ == NULL ||
      version_text_ == NULL) {
    Release();
  }
}

FileVersion::~FileVersion() {
  Release();
}

void FileVersion::Release() {
  delete[] path_;
  delete[] file_name_;
  delete[] file_type_;
  delete[] message_;
  delete[] version_text_;
  path_ = file_name_ = file_type_ = message_ = version_text_ = NULL;
}

void FileVersion::SetMessage(LPCWSTR format) {
  FormatInto(message_, kMessageChars, format, file_name_);
}

BOOL FileVersion::GetVersionForType(LPWSTR destination) {
  if (file_type_ == NULL || destination == NULL) return FALSE;
  if (_wcsicmp(file_type_, TEXT("exe")) == 0 || _wcsicmp(file_type_, TEXT("dll")) == 0) {
    if (!QueryVersion()) return FALSE;
    wcscpy(destination, version_text_);
    return TRUE;
  }
  if (_wcsicmp(file_type_, TEXT("car")) == 0) {
    SetMessage(TEXT("Cannot get the version string of %s!"));
  }
  return FALSE;
}

BOOL FileVersion::QueryVersion() {
  if (file_name_ == NULL) return FALSE;
  SetMessage(TEXT("Cannot get the version string of %s!"));
  return GetFileVerString(file_name_, version_text_);
}

BOOL GetFileVerString(LPCWSTR file, LPWSTR destination) {
  LPWSTR message = NewText(kMessageChars);
  LPWSTR text = NewText(kVersionTextChars);
  BYTE* data = NULL;
  BOOL done = FALSE;
  if (message != NULL && text != NULL) {
    wcscpy(message, TEXT("Cannot get proper dwVersionDataLen!"));
    DWORD size = GetFileVersionInfoSizeW(file, NULL);
    if (size != 0) data = new (std::nothrow) BYTE[size];
    if (data != NULL) {
      wcscpy(message, TEXT("Cannot get proper pVersionData, or GetFileVersionInfo() was failed!"));
      if (GetFileVersionInfoW(file, 0, size, data)) {
        wcscpy(message, TEXT("VerQueryValue() failed!"));
        VS_FIXEDFILEINFO* fixed = NULL;
        UINT length = 0;
        if (VerQueryValueW(data, TEXT("\\"), reinterpret_cast<LPVOID*>(&fixed), &length)) {
          wcscpy(message, TEXT("nValLen != sizeof(VS_FIXEDFILEINFO)!"));
          if (length == sizeof(VS_FIXEDFILEINFO)) {
            _snwprintf(text, kVersionTextChars - 1, TEXT("%d.%d.%d.%d"),
                       HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                       HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
            wcscpy(destination, text);
            done = TRUE;
          }
        }
      }
    }
    if (!done && ZONE_ERROR) {
      NKDbgPrintfW(TEXT("%s (GetFileVerString): %s: %s\r\n"), TEXT("FileVersion"), message, file);
    }
  }
  delete[] data;
  delete[] text;
  delete[] message;
  return done;
}
