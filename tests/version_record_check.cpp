// Reads the version record of a program file back, as Windows Explorer does,
// and compares every field with what txtshade.exe must carry. Prints each
// difference; exit status 0 when there is none.
//
//   txtshade_version_check txtshade.exe
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Differences = 0;

void Differ(const char* field, const std::string& found, const std::string& expected) {
  std::printf("%s: found \"%s\", expected \"%s\"\n", field, found.c_str(), expected.c_str());
  ++Differences;
}

// The bytes of a value exactly, in hexadecimal where they are not ASCII.
std::string Shown(const char* data, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c >= 32 && c < 127) {
      text += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text;
}

void CheckString(const std::vector<char>& record, const char* name, const char* expected) {
  std::string path = std::string("\\StringFileInfo\\040C04E4\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(record.data(), path.c_str(), &value, &length) || value == nullptr) {
    Differ(name, "(missing)", Shown(expected, std::strlen(expected)));
    return;
  }
  // The length counts the terminating zero.
  const char* text = static_cast<const char*>(value);
  std::size_t size = strnlen(text, length);
  if (size != std::strlen(expected) || std::memcmp(text, expected, size) != 0)
    Differ(name, Shown(text, size), Shown(expected, std::strlen(expected)));
}

// The same value as UTF-16, the form in which the record stores its strings.
void CheckWideString(const std::vector<char>& record, const wchar_t* name,
                     const wchar_t* expected) {
  std::wstring path = std::wstring(L"\\StringFileInfo\\040C04E4\\") + name;
  void* value = nullptr;
  UINT length = 0;
  bool found = VerQueryValueW(record.data(), path.c_str(), &value, &length) && value != nullptr;
  if (!found || std::wcscmp(static_cast<const wchar_t*>(value), expected) != 0)
    Differ("FileDescription (UTF-16)", found ? "(other text)" : "(missing)", "(UTF-16 text)");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: txtshade_version_check program.exe\n");
    return 2;
  }
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  if (size == 0) {
    std::printf("%s: no version record (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  std::vector<char> record(size);
  if (!GetFileVersionInfoA(argv[1], 0, size, record.data())) {
    std::printf("%s: version record unreadable (error %lu)\n", argv[1], GetLastError());
    return 1;
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      length < sizeof *fixed) {
    Differ("VS_FIXEDFILEINFO", "(missing)", "(present)");
  } else {
    char found[80];
    std::snprintf(found, sizeof found, "%08lX %08lX %08lX %08lX %08lX", fixed->dwSignature,
                  fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
                  fixed->dwProductVersionLS);
    if (std::strcmp(found, "FEEF04BD 00010000 00000000 00010000 00000000") != 0)
      Differ("signature, file and product version", found,
             "FEEF04BD 00010000 00000000 00010000 00000000");
  }

  // French (040C), code page 1252 (04E4).
  WORD* translation = nullptr;
  if (!VerQueryValueA(record.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &length) ||
      length != 4) {
    Differ("Translation", "(missing or not one pair)", "040C 04E4");
  } else {
    char found[16];
    std::snprintf(found, sizeof found, "%04X %04X", translation[0], translation[1]);
    if (std::strcmp(found, "040C 04E4") != 0) Differ("Translation", found, "040C 04E4");
  }

  // Read through the ANSI calls: the bytes of code page 1252 (0xEE is î).
  CheckString(record, "FileDescription", "Couleur cha\xEEnes pour sortie standard (console)");
  CheckString(record, "FileVersion", "1.0.0.0");
  CheckString(record, "ProductVersion", "1.0.0.0");
  CheckString(record, "ProductName", "txtSHADE");
  CheckString(record, "CompanyName", "Les auteurs de txtSHADE");
  CheckString(record, "InternalName", "txtSHADE");
  CheckString(record, "OriginalFilename", "txtshade.exe");
  CheckWideString(record, L"FileDescription",
                  L"Couleur cha\u00EEnes pour sortie standard (console)");

  if (Differences == 0) std::printf("version record of %s as expected\n", argv[1]);
  return Differences == 0 ? 0 : 1;
}
